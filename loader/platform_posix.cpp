// The POSIX stand-in for the Windows calls of the loader (see platform.h for its rules).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "loader/command_line.h"
#include "loader/platform.h"

extern char** environ;

namespace vo {

namespace {

constexpr char kDelimiter = '/';
constexpr char kSystemFolderName[] = "system32";
constexpr char kDefaultTempFolder[] = "/tmp";
constexpr char kBeepLogVariable[] = "VO_BEEP_LOG";
// The numbers a temporary file name can carry: four hexadecimal digits, never 0.
constexpr uint32_t kTempNumbers = 0xFFFF;
// How often a wait looks whether the child has ended.
constexpr auto kWaitStep = std::chrono::milliseconds(5);

std::string EnvironmentOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// The whole result buffer of the Windows call, zero-filled behind the text.
std::string AsDirectoryBuffer(std::string text) {
  constexpr std::size_t kBuffer = 261;
  if (text.size() >= kBuffer) return std::string(kBuffer, '\0');  // too long: the call fails
  text.resize(kBuffer, '\0');
  return text;
}

class TPosixPlatform final : public TPlatform {
 public:
  std::string ModuleFileName() override {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string();
  }

  std::string WindowsDirectory() override { return AsDirectoryBuffer(WindowsFolderText()); }

  std::string SystemDirectory() override {
    std::string folder = WindowsFolderText();
    if (folder.empty() || folder.back() != kDelimiter) folder += kDelimiter;
    return AsDirectoryBuffer(folder + kSystemFolderName);
  }

  std::string TempPath() override {
    std::string folder = EnvironmentOr("TMPDIR", kDefaultTempFolder);
    if (folder.back() != kDelimiter) folder += kDelimiter;
    return folder;
  }

  std::string TempFileName(const std::string& folder, const std::string& prefix,
                           uint32_t unique) override {
    std::string base = folder;
    if (!base.empty() && base.back() != kDelimiter) base += kDelimiter;
    base += prefix.substr(0, 3);
    // A given number names the file without creating it; 0 asks for an unused one, created.
    if (unique != 0) return base + Hex(unique & kTempNumbers) + ".tmp";
    const auto start = static_cast<uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ ::getpid());
    for (uint32_t step = 0; step < kTempNumbers; ++step) {
      const uint32_t number = (start + step) % kTempNumbers + 1;
      const std::string name = base + Hex(number) + ".tmp";
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        ::close(fd);
        return name;
      }
      if (errno != EEXIST) return {};
    }
    return {};
  }

  bool FileExists(const std::string& path) override {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
  }

  bool RemoveFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  void ShowMessage(const std::string& text, const std::string& caption, uint32_t) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }

  void Beep(uint32_t type) override {
    const char* log = std::getenv(kBeepLogVariable);
    if (log == nullptr || *log == '\0') return;
    if (std::FILE* file = std::fopen(log, "a")) {
      std::fprintf(file, "MessageBeep %u\n", static_cast<unsigned>(type));
      std::fclose(file);
    }
  }

  bool ExecuteShell(TShellExecuteRecord& record) override {
    record.hProcess = 0;
    // A Windows program needs no execute permission to be opened; here it does.
    struct stat info {};
    if (::stat(record.lpFile.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if ((info.st_mode & S_IXUSR) == 0) ::chmod(record.lpFile.c_str(), info.st_mode | S_IXUSR);
    std::vector<std::string> arguments = SplitParameters(record.lpParameters);
    arguments.insert(arguments.begin(), record.lpFile);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, record.lpFile.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      return false;
    }
    record.hProcess = static_cast<TProcessHandle>(pid);
    Children[pid] = std::nullopt;
    return true;
  }

  uint32_t WaitForProcess(TProcessHandle process, uint32_t milliseconds) override {
    const auto child = Children.find(static_cast<pid_t>(process));
    if (child == Children.end()) return kWaitFailed;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!child->second) {
      int status = 0;
      const pid_t done = ::waitpid(child->first, &status, WNOHANG);
      if (done < 0 && errno != EINTR) return kWaitFailed;
      if (done == child->first) {
        // A program ended by a signal gets the code a shell would show for it.
        child->second = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                          : 128u + static_cast<uint32_t>(WTERMSIG(status));
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) return kWaitTimeout;
      std::this_thread::sleep_for(kWaitStep);
    }
    return kWaitObject0;
  }

  void PeekQueue() override {}  // there is no message queue to look at

  bool ProcessExitCode(TProcessHandle process, uint32_t& code) override {
    const auto child = Children.find(static_cast<pid_t>(process));
    if (child == Children.end()) return false;
    code = child->second.value_or(kStillActive);
    return true;
  }

  bool TerminateProcess(TProcessHandle process, uint32_t code) override {
    const auto child = Children.find(static_cast<pid_t>(process));
    if (child == Children.end()) return false;
    if (child->second) return false;  // it has ended already, as on Windows
    if (::kill(child->first, SIGKILL) != 0) return false;
    int status = 0;
    while (::waitpid(child->first, &status, 0) < 0 && errno == EINTR) {
    }
    child->second = code;
    return true;
  }

  uint32_t TickCount() override {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }

  void Sleep(uint32_t milliseconds) override {
    if (milliseconds == 0) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
  }

  char PathDelimiter() const override { return kDelimiter; }
  bool EndsFolderPart(char c) const override { return c == kDelimiter; }

 private:
  static std::string WindowsFolderText() {
    return EnvironmentOr("WINDIR", kDefaultPosixWindowsFolder);
  }

  static std::string Hex(uint32_t number) {
    char text[9];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(number));
    return text;
  }

  // The processes this program started, with the exit code of each that has ended.
  std::map<pid_t, std::optional<uint32_t>> Children;
};

}  // namespace

TPlatform& SystemPlatform() {
  static TPosixPlatform platform;
  return platform;
}

}  // namespace vo
