#include "core/os.h"

#include <csignal>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vo {

namespace {

constexpr std::size_t kStdioBufferSize = 256 * 1024;

// Codec runs move 8 KB at a time; a larger buffer saves most of the system calls, which cost
// more than moving the bytes. It lives as long as the process, as the stream does.
template <int Channel>
void EnlargeBufferOnce(std::FILE* file) {
  static char buffer[kStdioBufferSize];
  // A function-local static is set up once, also when threads race to it.
  static const int done = std::setvbuf(file, buffer, _IOFBF, kStdioBufferSize);
  (void)done;
}

#ifdef _WIN32

std::optional<TFileIdentity> IdentityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
  return TFileIdentity{info.dwVolumeSerialNumber,
                       uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

#else

TFileIdentity IdentityOfStat(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

#endif

}  // namespace

void PrepareStandardStream(std::FILE* file) {
#ifdef _WIN32
  _setmode(_fileno(file), _O_BINARY);  // no line-end translation of archive bytes
#endif
  if (file == stdin) {
    EnlargeBufferOnce<0>(file);
  } else {
    EnlargeBufferOnce<1>(file);
  }
}

void PrepareTextOutput() {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
#endif
}

bool IsTerminal(std::FILE* file) {
#ifdef _WIN32
  return _isatty(_fileno(file)) != 0;
#else
  return ::isatty(::fileno(file)) != 0;
#endif
}

bool IsFolder(std::FILE* file) {
#ifdef _WIN32
  struct _stat64 info {};
  return _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFDIR;
#else
  struct stat info {};
  return ::fstat(::fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

std::optional<std::tm> LocalTime(std::time_t when) {
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &when) != 0) return std::nullopt;
#else
  if (localtime_r(&when, &local) == nullptr) return std::nullopt;
#endif
  return local;
}

std::optional<std::time_t> MomentOfLocalTime(std::tm local) {
  local.tm_isdst = -1;
  const std::time_t when = std::mktime(&local);
  if (when == static_cast<std::time_t>(-1)) return std::nullopt;
  return when;
}

std::optional<TFileIdentity> IdentityOfFile(const std::string& path) {
#ifdef _WIN32
  // Folders open only with backup semantics; no access is asked for, so nobody is kept out.
  const HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  const auto identity = IdentityOfHandle(handle);
  CloseHandle(handle);
  return identity;
#else
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return IdentityOfStat(info);
#endif
}

std::optional<TFileIdentity> IdentityOfStandardOutput() {
#ifdef _WIN32
  return IdentityOfHandle(GetStdHandle(STD_OUTPUT_HANDLE));
#else
  struct stat info {};
  if (::fstat(STDOUT_FILENO, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return IdentityOfStat(info);
#endif
}

bool RemoveFile(const char* path) {
#ifdef _WIN32
  return DeleteFileA(path) != 0;
#else
  return ::unlink(path) == 0;
#endif
}

bool RenameFile(const std::string& from, const std::string& to, bool replace) {
#ifdef _WIN32
  const DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
  return MoveFileExA(from.c_str(), to.c_str(), flags) != 0;
#else
  // rename() replaces a file or a link at the target, never a folder, and never follows a link.
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link also refuses an existing target.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
#endif
}

void CopyPermissions(const std::string& from, const std::string& to) {
#ifndef _WIN32
  struct stat info {};
  if (::stat(from.c_str(), &info) == 0) ::chmod(to.c_str(), info.st_mode & 07777);
#else
  (void)from;
  (void)to;
#endif
}

void InstallInterruptHandler(void (*handler)(int signal)) {
#ifdef _WIN32
  for (int signal : {SIGINT, SIGTERM, SIGBREAK}) std::signal(signal, handler);
#else
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESETHAND;
  sigfillset(&action.sa_mask);  // one interrupt at a time
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

void EndAsInterrupted(int signal) {
#ifdef _WIN32
  std::_Exit(128 + signal);
#else
  // The handler was reset to the default on entry: the signal, raised again, ends the process
  // as it would have without the handler, once the handler returns.
  std::raise(signal);
#endif
}

}  // namespace vo
