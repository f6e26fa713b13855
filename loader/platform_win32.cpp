// The Windows backend: each operation is the one system call it is named after.
#include <windows.h>
// Needs the types of windows.h first.
#include <shellapi.h>

#include "loader/platform.h"

namespace vo {

namespace {

constexpr DWORD kFolderBuffer = 261;
constexpr DWORD kTempPathBuffer = 256;

// The loader's record is the 32-bit program's; a 64-bit build hands the same fields to the
// system in the system's own, wider record.
static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOA) == kShellExecuteRecordSize);

HANDLE AsHandle(TProcessHandle process) {
  return reinterpret_cast<HANDLE>(process);
}

template <typename Call>
std::string FolderBuffer(Call call) {
  char buffer[kFolderBuffer] = {};
  call(buffer, kFolderBuffer - 1);
  return std::string(buffer, sizeof buffer);
}

class TWin32Platform final : public TPlatform {
 public:
  std::string ModuleFileName() override {
    char buffer[kFolderBuffer] = {};
    const DWORD n = GetModuleFileNameA(nullptr, buffer, kFolderBuffer);
    return std::string(buffer, n < kFolderBuffer ? n : 0);
  }

  std::string WindowsDirectory() override { return FolderBuffer(GetWindowsDirectoryA); }
  std::string SystemDirectory() override { return FolderBuffer(GetSystemDirectoryA); }

  std::string TempPath() override {
    char buffer[kTempPathBuffer] = {};
    GetTempPathA(kTempPathBuffer - 1, buffer);
    return buffer;
  }

  std::string TempFileName(const std::string& folder, const std::string& prefix,
                           uint32_t unique) override {
    char buffer[kTempPathBuffer] = {};
    if (GetTempFileNameA(folder.c_str(), prefix.c_str(), unique, buffer) == 0) return {};
    return buffer;
  }

  bool FileExists(const std::string& path) override {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  bool RemoveFile(const std::string& path) override { return DeleteFileA(path.c_str()) != FALSE; }

  void ShowMessage(const std::string& text, const std::string& caption, uint32_t style) override {
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
  }

  void Beep(uint32_t type) override { MessageBeep(type); }

  bool ExecuteShell(TShellExecuteRecord& record) override {
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = record.fMask;
    info.hwnd = reinterpret_cast<HWND>(record.hwnd);
    info.lpVerb = record.lpVerb.c_str();
    info.lpFile = record.lpFile.c_str();
    info.lpParameters = record.lpParameters.c_str();
    info.lpDirectory = record.lpDirectory.c_str();
    info.nShow = record.nShow;
    const BOOL ok = ShellExecuteExA(&info);
    record.hProcess = reinterpret_cast<TProcessHandle>(info.hProcess);
    return ok != FALSE;
  }

  uint32_t WaitForProcess(TProcessHandle process, uint32_t milliseconds) override {
    return WaitForSingleObject(AsHandle(process), milliseconds);
  }

  void PeekQueue() override {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  }

  bool ProcessExitCode(TProcessHandle process, uint32_t& code) override {
    DWORD exitCode = 0;
    const BOOL ok = GetExitCodeProcess(AsHandle(process), &exitCode);
    code = exitCode;
    return ok != FALSE;
  }

  bool TerminateProcess(TProcessHandle process, uint32_t code) override {
    return ::TerminateProcess(AsHandle(process), code) != FALSE;
  }

  uint32_t TickCount() override { return GetTickCount(); }
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }

  char PathDelimiter() const override { return '\\'; }
  bool EndsFolderPart(char c) const override { return c == '\\' || c == ':'; }
};

}  // namespace

TPlatform& SystemPlatform() {
  static TWin32Platform platform;
  return platform;
}

}  // namespace vo
