// The POSIX backend against the real system: names, folders, and starting programs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "loader/launch.h"
#include "loader/platform.h"
#include "tests/support/loader_files.h"
#include "tests/support/streams.h"

namespace vo {
namespace {

using test::ReadFile;
using test::TScratchFolder;
using test::WriteFile;

// Sets an environment variable for one test and restores it after.
class TEnvironment {
 public:
  TEnvironment(const char* name, const std::string& value) : Name(name) {
    const char* old = std::getenv(name);
    if (old != nullptr) Old = old;
    Had = old != nullptr;
    ::setenv(name, value.c_str(), 1);
  }
  ~TEnvironment() {
    if (Had) {
      ::setenv(Name, Old.c_str(), 1);
    } else {
      ::unsetenv(Name);
    }
  }

 private:
  const char* Name;
  std::string Old;
  bool Had = false;
};

// <folder>VoI<1 to 4 hexadecimal digits>.tmp
bool IsTempFileName(const std::string& name, const std::string& folder) {
  const std::string head = folder + "VoI";
  const std::string tail = ".tmp";
  if (name.size() < head.size() + tail.size() + 1 || name.rfind(head, 0) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  const std::string number = name.substr(head.size(), name.size() - head.size() - tail.size());
  return number.size() <= 4 && number.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

std::string Text(const std::string& buffer) {
  return buffer.substr(0, buffer.find('\0'));
}

TEST(PosixPlatform, FoldersFollowTheEnvironment) {
  TPlatform& platform = SystemPlatform();
  {
    TEnvironment windir("WINDIR", "/srv/win dir");
    EXPECT_EQ(Text(platform.WindowsDirectory()), "/srv/win dir");
    EXPECT_EQ(Text(platform.SystemDirectory()), "/srv/win dir/system32");
    EXPECT_EQ(platform.WindowsDirectory().size(), 261u);
  }
  {
    TEnvironment windir("WINDIR", "");
    EXPECT_EQ(Text(platform.WindowsDirectory()), kDefaultPosixWindowsFolder);
  }
  TEnvironment tmpdir("TMPDIR", "/var/tmp/x");
  EXPECT_EQ(platform.TempPath(), "/var/tmp/x/");
  EXPECT_EQ(platform.PathDelimiter(), '/');
}

TEST(PosixPlatform, TempFileNamesAreNewEmptyFiles) {
  TScratchFolder folder("posix-temp");
  TPlatform& platform = SystemPlatform();
  const std::string base = folder.Root.string() + "/";
  const std::string first = platform.TempFileName(base, "VoI", 0);
  const std::string second = platform.TempFileName(base, "VoI", 0);
  EXPECT_TRUE(IsTempFileName(first, base)) << first;
  EXPECT_TRUE(IsTempFileName(second, base)) << second;
  EXPECT_NE(first, second);
  EXPECT_TRUE(test::fs::is_regular_file(first));
  EXPECT_EQ(test::fs::file_size(first), 0u);
  EXPECT_EQ(platform.TempFileName(folder.Path("absent/"), "VoI", 0), "");
}

TEST(PosixPlatform, FileExistsOnlyForFiles) {
  TScratchFolder folder("posix-exists");
  TPlatform& platform = SystemPlatform();
  WriteFile(folder.Path("RichEd32.dll"), {1});
  test::fs::create_directories(folder.Path("sub/RichEd32.dll"));
  EXPECT_TRUE(platform.FileExists(folder.Path("RichEd32.dll")));
  EXPECT_FALSE(platform.FileExists(folder.Path("sub/RichEd32.dll")));
  EXPECT_FALSE(platform.FileExists(folder.Path("richEd32.dll")));
}

class PosixLaunchTest : public ::testing::Test {
 protected:
  TScratchFolder Folder{"posix-launch"};
  std::string Record = Folder.Path("record");
  TEnvironment RecordVariable{"VOINSTALL_RECORD", Record};
};

TEST_F(PosixLaunchTest, StartsWithWindowsArgumentsAndReturnsTheExitCode) {
  // A copy without execute permission starts too, as a program file does on Windows.
  const std::string installer = Folder.Path("Vo Install.exe");
  WriteFile(installer, ReadFile(VO_TEST_INSTALLER));
  ::chmod(installer.c_str(), 0644);
  TEnvironment code("VOINSTALL_EXIT_CODE", "3");
  EXPECT_EQ(LaunchAndWait(SystemPlatform(), installer,
                          "\"/SOURCE=/a b/setup\" \"/DATA=/c d/VoI1.tmp\"", kSwShowNormal, true),
            3);
  const std::vector<uint8_t> expected = test::Bytes("2\n/SOURCE=/a b/setup\n/DATA=/c d/VoI1.tmp\n");
  EXPECT_EQ(ReadFile(Record), expected);
}

TEST_F(PosixLaunchTest, WhatCannotRunIsNotStarted) {
  WriteFile(Folder.Path("empty.exe"), {});
  ::chmod(Folder.Path("empty.exe").c_str(), 0755);
  for (const std::string& file :
       {Folder.Path("absent.exe"), Folder.Path("empty.exe"), Folder.Root.string()}) {
    EXPECT_EQ(LaunchAndWait(SystemPlatform(), file, "", kSwShowNormal, true), -1) << file;
  }
  EXPECT_FALSE(test::fs::exists(Record));
}

TEST_F(PosixLaunchTest, WaitTimesOutWhileTheProcessRunsAndTerminateEndsIt) {
  TPlatform& platform = SystemPlatform();
  TShellExecuteRecord record;
  record.lpVerb = "Open";
  record.lpFile = "/bin/sh";
  record.lpParameters = "-c \"exec sleep 5\"";
  ASSERT_TRUE(platform.ExecuteShell(record));
  EXPECT_EQ(platform.WaitForProcess(record.hProcess, 100), kWaitTimeout);
  uint32_t code = 0;
  ASSERT_TRUE(platform.ProcessExitCode(record.hProcess, code));
  EXPECT_EQ(code, kStillActive);
  EXPECT_TRUE(platform.TerminateProcess(record.hProcess, 0));
  EXPECT_EQ(platform.WaitForProcess(record.hProcess, 100), kWaitObject0);
  ASSERT_TRUE(platform.ProcessExitCode(record.hProcess, code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(platform.WaitForProcess(0, 100), kWaitFailed);
  EXPECT_FALSE(platform.ProcessExitCode(0, code));
}

}  // namespace
}  // namespace vo
