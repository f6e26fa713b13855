#include <gtest/gtest.h>

#include "loader/launch.h"
#include "tests/support/fake_platform.h"

namespace vo {
namespace {

using test::TFakePlatform;

TEST(LaunchAndWait, FillsTheShellRecord) {
  TFakePlatform platform;
  LaunchAndWait(platform, "C:\\WINDOWS\\VoInstall.exe", "\"/SOURCE=a\" \"/DATA=b\"", 1, true);
  ASSERT_EQ(platform.Launches.size(), 1u);
  const TShellExecuteRecord& r = platform.Launches[0];
  EXPECT_EQ(r.cbSize, 60u);
  EXPECT_EQ(r.fMask, 0x40u);
  EXPECT_EQ(r.hwnd, 0u);
  EXPECT_EQ(r.lpVerb, "Open");
  EXPECT_EQ(r.lpFile, "C:\\WINDOWS\\VoInstall.exe");
  EXPECT_EQ(r.lpParameters, "\"/SOURCE=a\" \"/DATA=b\"");
  EXPECT_EQ(r.lpDirectory, "");
  EXPECT_EQ(r.nShow, 1);
}

TEST(LaunchAndWait, ResultsAndCalls) {
  struct Row {
    const char* name;
    bool shellWorks;
    std::deque<uint32_t> waits;
    bool exitCodeWorks;
    uint32_t exitCode;
    int32_t expected;
    std::vector<std::string> calls;
  };
  const std::string wait = "WaitForProcess 42 100";
  const std::string exitCode = "ProcessExitCode 42";
  const std::string terminate = "TerminateProcess 42 0";
  const Row rows[] = {
      {"exit code 3", true, {}, true, 3, 3, {"ExecuteShell", wait, exitCode, terminate}},
      {"exit code 2^31 reads negative",
       true,
       {},
       true,
       0x80000000u,
       INT32_MIN,
       {"ExecuteShell", wait, exitCode, terminate}},
      {"exit code 0xFFFFFFFE",
       true,
       {},
       true,
       0xFFFFFFFEu,
       -2,
       {"ExecuteShell", wait, exitCode, terminate}},
      {"the shell fails: no wait", false, {}, true, 0, -1, {"ExecuteShell"}},
      {"a long run: the queue is looked at after each timeout",
       true,
       {kWaitTimeout, kWaitTimeout, kWaitTimeout},
       true,
       0,
       0,
       {"ExecuteShell", wait, "PeekQueue", wait, "PeekQueue", wait, "PeekQueue", wait, exitCode,
        terminate}},
      {"the wait fails while it runs",
       true,
       {kWaitFailed},
       true,
       kStillActive,
       259,
       {"ExecuteShell", wait, exitCode, terminate}},
      {"no exit code",
       true,
       {kWaitFailed},
       false,
       0,
       -1,
       {"ExecuteShell", wait, exitCode, terminate}},
  };
  for (const Row& row : rows) {
    TFakePlatform platform;
    platform.ShellWorks = row.shellWorks;
    platform.WaitResults = row.waits;
    platform.ExitCodeWorks = row.exitCodeWorks;
    platform.ExitCode = row.exitCode;
    EXPECT_EQ(LaunchAndWait(platform, "i.exe", "", kSwShowNormal, true), row.expected) << row.name;
    EXPECT_EQ(platform.Calls, row.calls) << row.name;
  }
}

TEST(LaunchAndWait, WithoutWaitOnlyStarts) {
  TFakePlatform platform;
  EXPECT_EQ(LaunchAndWait(platform, "i.exe", "", kSwShowNormal, false), 0);
  EXPECT_EQ(platform.Calls, std::vector<std::string>{"ExecuteShell"});
}

}  // namespace
}  // namespace vo
