// The loader's view of the operating system: one operation for each system call it makes, so
// that its algorithms are written once and can be driven by a fake in the tests. The Windows
// backend makes the real calls; the POSIX backend stands in for them:
//   - the Windows folder is $WINDIR, else kDefaultPosixWindowsFolder; the System folder is its
//     "system32" folder; the temp folder is $TMPDIR, else "/tmp";
//   - temp file names are <prefix><hex number>.tmp, created empty, as on Windows;
//   - the shell starts the program with its parameters split as Windows splits them, first
//     giving its owner the execute permission that a Windows program does not need;
//   - a message box writes its caption and text to standard error; a beep writes nothing and,
//     when $VO_BEEP_LOG names a file, appends one line to it.
#pragma once

#include <cstdint>
#include <string>

namespace vo {

using TProcessHandle = uintptr_t;

// Values of the system's own constants that the loader passes or compares.
inline constexpr uint32_t kMbOk = 0x0000;
inline constexpr uint32_t kMbIconStop = 0x0010;
inline constexpr uint32_t kMbTaskModal = 0x2000;
inline constexpr uint32_t kBeepDefault = 0;
inline constexpr uint16_t kSwShowNormal = 1;
inline constexpr uint32_t kSeeMaskNoCloseProcess = 0x40;
inline constexpr uint32_t kShellExecuteRecordSize = 60;
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr uint32_t kStillActive = 259;

inline constexpr char kDefaultPosixWindowsFolder[] = "/usr/local/share/voinstall/windows";

// The shell execution record, field for field; strings stand for the record's text pointers
// (an empty string is a pointer to a zero byte, never a null pointer).
struct TShellExecuteRecord {
  uint32_t cbSize = 0;
  uint32_t fMask = 0;
  uintptr_t hwnd = 0;
  std::string lpVerb;
  std::string lpFile;
  std::string lpParameters;
  std::string lpDirectory;
  int32_t nShow = 0;
  TProcessHandle hProcess = 0;  // set by ExecuteShell when the shell gives a process
};

class TPlatform {
 public:
  virtual ~TPlatform() = default;

  // GetModuleFileNameA for the main module.
  virtual std::string ModuleFileName() = 0;
  // GetWindowsDirectoryA / GetSystemDirectoryA: the whole 261-byte result buffer, zero-filled
  // behind the text; callers take the text up to the first zero byte.
  virtual std::string WindowsDirectory() = 0;
  virtual std::string SystemDirectory() = 0;
  // GetTempPathA: the temp folder, ending in a delimiter.
  virtual std::string TempPath() = 0;
  // GetTempFileNameA: with unique 0 it picks an unused name and creates the file, empty.
  // Returns the name, or an empty string when the call fails.
  virtual std::string TempFileName(const std::string& folder, const std::string& prefix,
                                   uint32_t unique) = 0;
  // FindFirstFileA and FindClose: an entry exists at exactly this path and is not a folder.
  virtual bool FileExists(const std::string& path) = 0;
  // DeleteFileA: removes the file at path; true when it did.
  virtual bool RemoveFile(const std::string& path) = 0;
  // MessageBoxA with no owner window.
  virtual void ShowMessage(const std::string& text, const std::string& caption, uint32_t style) = 0;
  // MessageBeep.
  virtual void Beep(uint32_t type) = 0;
  // ShellExecuteExA; true when it succeeded.
  virtual bool ExecuteShell(TShellExecuteRecord& record) = 0;
  // WaitForSingleObject: kWaitObject0, kWaitTimeout or kWaitFailed.
  virtual uint32_t WaitForProcess(TProcessHandle process, uint32_t milliseconds) = 0;
  // PeekMessageA(no window, 0, 0, PM_NOREMOVE); the result is of no use to the loader.
  virtual void PeekQueue() = 0;
  // GetExitCodeProcess; true when it succeeded.
  virtual bool ProcessExitCode(TProcessHandle process, uint32_t& code) = 0;
  // TerminateProcess.
  virtual bool TerminateProcess(TProcessHandle process, uint32_t code) = 0;
  // GetTickCount and Sleep.
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;

  // The folder delimiter this system appends to folder paths.
  virtual char PathDelimiter() const = 0;
  // Whether a character ends the folder part of a path ("\" and ":" on Windows).
  virtual bool EndsFolderPart(char c) const = 0;
};

// The backend of the system the program is built for.
TPlatform& SystemPlatform();

}  // namespace vo
