#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "core/exception.h"
#include "core/little_endian.h"
#include "core/memory_stream.h"
#include "loader/setup.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loader_files.h"

namespace vo {
namespace {

using test::Filler;
using test::ReadFile;
using test::TFakePlatform;
using test::TScratchFolder;
using test::WriteFile;

TEST(Folders, EndInExactlyOneDelimiter) {
  struct Row {
    std::string raw;
    char delimiter;
    std::string expected;
  };
  const Row rows[] = {
      {std::string("C:\\WINDOWS\0garbage", 18), '\\', "C:\\WINDOWS\\"},
      {"C:\\", '\\', "C:\\"},
      {"D:\\Win Dir\\", '\\', "D:\\Win Dir\\"},
      {"/opt/windows", '/', "/opt/windows/"},
      {"/", '/', "/"},
      {"", '\\', "\\"},
  };
  for (const Row& row : rows) {
    TFakePlatform platform;
    platform.Delimiter = row.delimiter;
    platform.WindowsText = row.raw;
    platform.SystemText = row.raw;
    EXPECT_EQ(WindowsFolder(platform), row.expected) << row.raw;
    EXPECT_EQ(SystemFolder(platform), row.expected) << row.raw;
  }
}

TEST(RichEditPresent, TriesTheWindowsFolderThenTheSystemFolder) {
  struct Row {
    std::set<std::string> existing;
    bool expected;
    int searches;
  };
  const Row rows[] = {
      {{"/win/RichEd32.dll"}, true, 1},
      {{"/win/system32/RichEd32.dll"}, true, 2},
      {{"/win/RichEd32.dll", "/win/system32/RichEd32.dll"}, true, 1},
      {{"/win/richedit.dll", "/RichEd32.dll"}, false, 2},
  };
  for (const Row& row : rows) {
    TFakePlatform platform;
    platform.WindowsText = "/win";
    platform.SystemText = "/win/system32";
    platform.Existing = row.existing;
    EXPECT_EQ(RichEditPresent(platform), row.expected);
    EXPECT_EQ(platform.Count("FileExists"), row.searches);
    EXPECT_EQ(platform.Calls[1], "FileExists /win/RichEd32.dll");
  }
}

TEST(MakeTempFileName, AsksForAnUnusedNameWithThePrefixVoI) {
  TScratchFolder folder("tempname");
  TFakePlatform platform;
  platform.TempText = folder.Path("");
  const std::string name = MakeTempFileName(platform);
  EXPECT_EQ(platform.Calls,
            (std::vector<std::string>{"TempPath", "TempFileName " + platform.TempText + " VoI 0"}));
  EXPECT_EQ(name, platform.TempText + "VoI1.tmp");
}

TEST(FolderPart, EndsAtTheLastDelimiter) {
  struct Row {
    std::string folderEnds;
    std::string path;
    std::string expected;
  };
  const Row rows[] = {
      {"\\:", "C:\\Temp\\VoI1A.tmp", "C:\\Temp\\"},
      {"\\:", "C:VoI1A.tmp", "C:"},
      {"\\:", "VoI1A.tmp", ""},
      {"/", "/tmp/a b/VoI1A.tmp", "/tmp/a b/"},
      {"/", "/tmp/a\\b:VoI1A.tmp", "/tmp/"},
  };
  for (const Row& row : rows) {
    TFakePlatform platform;
    platform.FolderEnds = row.folderEnds;
    EXPECT_EQ(FolderPart(platform, row.path), row.expected) << row.path;
  }
}

TEST(ErrorReport, TextFormat) {
  struct Row {
    std::string message;
    uint32_t address;
    std::string expected;
  };
  const Row rows[] = {
      {"Stream read error", 0,
       "Exception EReadError in module Setup.exe at 00000000.\n"
       "Stream read error."},
      {"Ends in a stop.", 0x1A2B,
       "Exception EReadError in module Setup.exe at 00001A2B.\n"
       "Ends in a stop."},
      {"", 0xFFFFFFFF, "Exception EReadError in module Setup.exe at FFFFFFFF.\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ErrorReportText("EReadError", "Setup.exe", row.address, row.message), row.expected);
  }
}

// The main sequence over the fake platform, with real files in a scratch folder.
class RunSetupTest : public ::testing::Test {
 public:
  void SetUp() override {
    test::fs::create_directories(Windows + "/system32");
    test::fs::create_directories(Temp);
    WriteFile(Loader, test::LoaderWithPayload(4000, 1234, Archive, 50));
    Platform.ModulePath = Loader;
    Platform.WindowsText = Windows;
    Platform.SystemText = Windows + "/system32";
    Platform.TempText = Temp + "/";
    Platform.Existing = {Windows + "/RichEd32.dll"};
  }

  // Checks that it is given the copied archive and writes the installer's bytes.
  int Run() {
    return RunSetup(Platform, [this](const std::string& archivePath, TStream& destination,
                                     const std::string& entryName) {
      Expansions.push_back(archivePath);
      EXPECT_EQ(entryName, "Installer\\VoInstall.exe");
      EXPECT_EQ(ReadFile(archivePath), Archive);
      destination.WriteBuffer(Installer.data(), Installer.size());
      if (Failure) Failure();
      return Matches;
    });
  }

  // A fresh start for the next row of a table.
  void Reset() {
    test::fs::remove_all(Folder.Root);
    Platform = TFakePlatform();
    Failure = nullptr;
    Matches = 1;
    Expansions.clear();
    SetUp();
  }

  // The regular files a run has left in the temporary and the Windows folder.
  std::vector<std::string> FilesLeft() const {
    std::vector<std::string> names;
    for (const std::string& folder : {Temp, Windows}) {
      for (const auto& entry : test::fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : test::fs::directory_iterator(Temp)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TScratchFolder Folder{"run"};
  std::string Windows = Folder.Path("windows");
  std::string Temp = Folder.Path("temp dir");
  std::string Loader = Folder.Path("my setup.exe");
  std::vector<uint8_t> Archive = Filler(70000, 4);
  std::vector<uint8_t> Installer = Filler(3000, 8);
  TFakePlatform Platform;
  std::vector<std::string> Expansions;
  std::function<void()> Failure;
  int32_t Matches = 1;
};

TEST_F(RunSetupTest, ExpandsIntoTheWindowsFolderAndStartsTheInstaller) {
  WriteFile(Windows + "/VoInstall.exe", Filler(9000, 2));  // an old one is overwritten
  Platform.ExitCode = 3;  // the installer's code is not the loader's
  EXPECT_EQ(Run(), 0);
  const std::string tempArchive = Temp + "/VoI1.tmp";
  EXPECT_EQ(Expansions, std::vector<std::string>{tempArchive});
  EXPECT_EQ(ReadFile(Windows + "/VoInstall.exe"), Installer);
  ASSERT_EQ(Platform.Launches.size(), 1u);
  EXPECT_EQ(Platform.Launches[0].lpFile, Windows + "/VoInstall.exe");
  EXPECT_EQ(Platform.Launches[0].lpParameters,
            "\"/SOURCE=" + Loader + "\" \"/DATA=" + tempArchive + "\"");
  EXPECT_EQ(Platform.Launches[0].nShow, 1);
  // Nothing is deleted: the archive copy stays for the installer.
  EXPECT_EQ(ReadFile(tempArchive), Archive);
  EXPECT_TRUE(Platform.Messages.empty());
  EXPECT_EQ(Platform.Count("Beep"), 0);
}

TEST_F(RunSetupTest, OrderlyEndsWithoutAnInstaller) {
  struct Row {
    const char* name;
    bool richEdit;
    std::function<void(std::vector<uint8_t>&)> damage;
    int messages;
    int beeps;
    int exitCode;
  };
  const auto patch = [](int32_t value) {
    return [value](std::vector<uint8_t>& file) { StoreLittleEndian(&file[1234 + 8], value); };
  };
  const Row rows[] = {
      // The message says that installation cannot continue: a failure, not an orderly end.
      {"no rich-edit library", false, nullptr, 1, 0, 1},
      {"unpatched stamp", true, [](std::vector<uint8_t>& file) { file[1242] = 'X'; }, 0, 1, 0},
      {"stamp value 0 and no other", true, patch(0), 0, 1, 0},
      {"negative stamp value", true, patch(-4000), 0, 1, 0},
      {"stamp value past the end", true, patch(1 << 24), 0, 1, 0},
      {"no marker", true, [](std::vector<uint8_t>& file) { file[1234] = 'v'; }, 0, 1, 0},
  };
  for (const Row& row : rows) {
    Reset();
    if (!row.richEdit) Platform.Existing.clear();
    std::vector<uint8_t> file = test::LoaderWithPayload(4000, 1234, Archive, 50);
    if (row.damage) row.damage(file);
    WriteFile(Loader, file);
    EXPECT_EQ(Run(), row.exitCode) << row.name;
    EXPECT_EQ(static_cast<int>(Platform.Messages.size()), row.messages) << row.name;
    EXPECT_EQ(Platform.Count("Beep 0"), row.beeps) << row.name;
    EXPECT_EQ(Platform.Count("Beep"), row.beeps) << row.name;
    EXPECT_EQ(Platform.Count("TempFileName"), 0) << row.name;
    EXPECT_TRUE(Platform.Launches.empty()) << row.name;
    EXPECT_FALSE(test::fs::exists(Windows + "/VoInstall.exe")) << row.name;
    EXPECT_TRUE(TempFiles().empty()) << row.name;
  }
  Reset();
  Platform.Existing.clear();
  RunSetup(Platform, nullptr);
  ASSERT_EQ(Platform.Messages.size(), 1u);
  EXPECT_EQ(Platform.Messages[0].Text,
            "The DLL 'RichEd32.dll' cannot be located on this system. Installation cannot "
            "continue.");
  EXPECT_EQ(Platform.Messages[0].Caption, "Error");
  EXPECT_EQ(Platform.Messages[0].Style, 0x10u);
}

TEST_F(RunSetupTest, FallsBackToTheTemporaryFolderWhenTheWindowsFolderRefuses) {
  // A folder in the way: the file cannot be created, even by a privileged user.
  test::fs::create_directories(Windows + "/VoInstall.exe");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(ReadFile(Temp + "/VoInstall.exe"), Installer);
  ASSERT_EQ(Platform.Launches.size(), 1u);
  EXPECT_EQ(Platform.Launches[0].lpFile, Temp + "/VoInstall.exe");
  EXPECT_EQ(Expansions.size(), 1u);
  EXPECT_TRUE(Platform.Messages.empty());
}

TEST_F(RunSetupTest, ErrorsEndInTheReportWithoutStartingAnything) {
  struct Row {
    const char* name;
    std::function<void(RunSetupTest&)> arrange;
    std::string text;  // the report's text after "Exception "
    std::size_t expansions;
    int removed;  // files the run had made: the temporary archive, the installer
  };
  const Row rows[] = {
      {"the loader's file cannot be opened", [](RunSetupTest& t) { test::fs::remove(t.Loader); },
       "EFOpenError in module my setup.exe at 00000000.\nCannot open file " + Loader + ".", 0, 0},
      {"the temporary file cannot be made",
       [](RunSetupTest& t) { t.Platform.TempFileWorks = false; },
       "EFCreateError in module my setup.exe at 00000000.\nCannot create file .", 0, 0},
      {"the payload is shorter than its length",
       [](RunSetupTest& t) {
         std::vector<uint8_t> file = test::LoaderWithPayload(4000, 1234, t.Archive);
         file.pop_back();
         WriteFile(t.Loader, file);
       },
       "EReadError in module my setup.exe at 00000000.\nStream read error.", 0, 1},
      {"no folder takes the installer",
       [](RunSetupTest& t) {
         test::fs::create_directories(t.Windows + "/VoInstall.exe");
         test::fs::create_directories(t.Temp + "/VoInstall.exe");
       },
       "EFCreateError in module my setup.exe at 00000000.\nCannot create file " + Temp +
           "/VoInstall.exe.",
       0, 1},
      {"the expansion fails its checksum",
       [](RunSetupTest& t) {
         t.Failure = [] {
           throw EBadChecksum("Bad checksum during expansion -- data may be invalid");
         };
       },
       "EBadChecksum in module my setup.exe at 00000000.\n"
       "Bad checksum during expansion -- data may be invalid.",
       1, 2},
      {"the expansion fails in the fallback folder",
       [](RunSetupTest& t) {
         test::fs::create_directories(t.Windows + "/VoInstall.exe");
         t.Failure = [] { throw EReadError("Stream read error"); };
       },
       "EReadError in module my setup.exe at 00000000.\nStream read error.", 1, 2},
      {"the archive holds no installer", [](RunSetupTest& t) { t.Matches = 0; },
       "EEntryMissing in module my setup.exe at 00000000.\n"
       "Archive entry not found: Installer\\VoInstall.exe.",
       1, 2},
  };
  for (const Row& row : rows) {
    Reset();
    row.arrange(*this);
    EXPECT_EQ(Run(), 1) << row.name;
    ASSERT_EQ(Platform.Messages.size(), 1u) << row.name;
    EXPECT_EQ(Platform.Messages[0].Text, "Exception " + row.text) << row.name;
    EXPECT_EQ(Platform.Messages[0].Caption, "Application Error") << row.name;
    EXPECT_EQ(Platform.Messages[0].Style, 0x2010u) << row.name;
    EXPECT_TRUE(Platform.Launches.empty()) << row.name;
    EXPECT_EQ(Expansions.size(), row.expansions) << row.name;
    // Nothing the run made is left, and it was removed before the report.
    EXPECT_EQ(FilesLeft(), std::vector<std::string>{}) << row.name;
    const auto report = std::find(Platform.Calls.begin(), Platform.Calls.end(), "ShowMessage");
    EXPECT_EQ(std::count_if(report, Platform.Calls.end(),
                            [](const std::string& c) { return c.rfind("RemoveFile", 0) == 0; }),
              0)
        << row.name;
    EXPECT_EQ(Platform.Count("RemoveFile"), row.removed) << row.name;
  }
}

// A file size limit fills the disk for the run alone, which goes on in a child process.
TEST_F(RunSetupTest, AFullDiskEndsInTheReport) {
  constexpr int kReported = 7;
  const auto runOntoFullDisk = [this] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool reported =
        Run() == 1 && Platform.Messages.size() == 1 && Platform.Launches.empty() &&
        Platform.Messages[0].Text.rfind("Exception EWriteError in module my setup.exe", 0) == 0 &&
        FilesLeft().empty();
    std::_Exit(reported ? kReported : 0);
  };
  EXPECT_EXIT(runOntoFullDisk(), ::testing::ExitedWithCode(kReported), "");
}

TEST_F(RunSetupTest, AnInstallerThatCannotStartEndsWithCode1AndNoMessage) {
  Platform.ShellWorks = false;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Platform.Launches.size(), 1u);
  EXPECT_TRUE(Platform.Messages.empty());
}

}  // namespace
}  // namespace vo
