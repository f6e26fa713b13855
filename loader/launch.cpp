#include "loader/launch.h"

namespace vo {

namespace {
constexpr char kVerbOpen[] = "Open";
}  // namespace

int32_t LaunchAndWait(TPlatform& platform, const std::string& File, const std::string& Parameters,
                      uint16_t ShowCommand, bool Wait) {
  TShellExecuteRecord record;
  record.cbSize = kShellExecuteRecordSize;
  record.fMask = kSeeMaskNoCloseProcess;
  record.lpVerb = kVerbOpen;
  record.lpFile = File;
  record.lpParameters = Parameters;
  record.nShow = ShowCommand;
  bool ok = platform.ExecuteShell(record);
  uint32_t code = 0;
  if (Wait && ok) {
    // No time limit: the installer runs as long as the user needs it.
    while (platform.WaitForProcess(record.hProcess, kLaunchPollMilliseconds) == kWaitTimeout) {
      platform.PeekQueue();
    }
    ok = platform.ProcessExitCode(record.hProcess, code);
    // Changes nothing for a process that has ended; ends one whose wait failed.
    platform.TerminateProcess(record.hProcess, 0);
  }
  return ok ? static_cast<int32_t>(code) : -1;
}

}  // namespace vo
