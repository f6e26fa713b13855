// voarc driven as a user drives it: command lines, their outputs, the files they leave and
// their exit codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "archive_bytes.h"
#include "temp_dir.h"
#include "tools/voarc/cli.h"
#include "tools/voarc/report.h"

namespace vo {
namespace {

namespace fs = std::filesystem;
using test::TBytes;

struct TRun {
  int Code;
  std::string Out;
  std::string Err;
};

class VoarcCli : public test::TTempDirTest {
 protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i * 7 % 101) + " of the text\n";
    Put("a.txt", TBytes(text.begin(), text.end()));
    std::mt19937 random(7);
    TBytes noise(50000);
    for (auto& b : noise) b = static_cast<uint8_t>(random());
    Put("noise.bin", noise);
    fs::create_directories(Dir / "d" / "sub");
    Put("d/one.txt", TBytes(2000, 'x'));
    Put("d/sub/two.txt", TBytes(text.begin(), text.begin() + 500));
    Put("empty", {});
  }

  // Runs voarc in the test folder; stdin from `input` when given.
  TRun Voarc(const std::string& arguments, const std::string& input = "") const {
    std::string command = "cd '" + Dir.string() + "' && '" VO_VOARC "' " + arguments;
    if (!input.empty()) command += " < " + input;
    command += " > stdout.txt 2> stderr.txt";
    const int status = std::system(command.c_str());
    const TBytes out = Get("stdout.txt");
    const TBytes err = Get("stderr.txt");
    return {WEXITSTATUS(status), std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
  }
  bool SameFiles(const std::string& a, const std::string& b) const { return Get(a) == Get(b); }
};

TEST_F(VoarcCli, CommandTable) {
  struct Row {
    const char* arguments;
    int code;
    const char* inStdout;
    const char* inStderr;
  };
  const Row rows[] = {
      {"create arc.voa a.txt noise.bin d empty 'Installer\\VoInstall.exe=a.txt'", 0, "", ""},
      {"list arc.voa", 0, "d\\sub\\two.txt", ""},
      {"list arc.voa", 0, "total", ""},
      {"list --json arc.voa", 0, "\"method\": \"LH5\", \"method_index\": 4", ""},
      {"list --json arc.voa", 0, "\"name\": \"Installer\\\\VoInstall.exe\"", ""},
      {"test arc.voa", 0, "OK           d\\one.txt", ""},
      {"test missing.voa", 1, "", "voarc: EFOpenError: Cannot open file missing.voa\n"},
      {"cat arc.voa nowhere", 1, "", "no entry named \"nowhere\""},
      {"create -m bogus x.voa a.txt", 2, "", "voarc: "},
      {"create -k 12abc x.voa a.txt", 2, "", "KEY '12abc' is not a 32-bit number"},
      {"create -k 4294967296 x.voa a.txt", 2, "", "not a 32-bit number"},
      {"create -k 0x1FFFFFFFF x.voa a.txt", 2, "", "not a 32-bit number"},
      {"create x.voa no-such-file", 1, "", "no such file or folder: no-such-file"},
      {"create x.voa '..\\up=a.txt'", 1, "", "voarc: EInvalidEntryName: "},
      {"create -m non stored.voa a.txt", 0, "", ""},
      {"list stored.voa", 0, "NON", ""},
      {"create -k 0x7fffffff -m lzh locked.voa a.txt", 0, "", ""},
      {"list locked.voa", 0, "locked", ""},
      {"test locked.voa", 1, "FAILED       a.txt: EInvalidKey: File locked -- valid key required",
       "test failed"},
      {"test -k 2147483647 locked.voa", 0, "OK", ""},
      {"test -k -2147483648 locked.voa", 1, "EInvalidKey", ""},
      {"", 2, "", "voarc: "},
      {"nonsense", 2, "", "voarc: "},
      {"--help", 0, "create", ""},
      {"extract --help", 0, "--directory", ""},
      {"raw expand -m lh5 -n -1", 2, "", "voarc: "},
      {"raw compress -m rle", 2, "", "voarc: "},
      {"info a.txt", 1, "no payload stamp", ""},
  };
  for (const Row& row : rows) {
    const TRun run = Voarc(row.arguments);
    EXPECT_EQ(run.Code, row.code) << row.arguments << "\n" << run.Err;
    EXPECT_NE(run.Out.find(row.inStdout), std::string::npos) << row.arguments << "\n" << run.Out;
    EXPECT_NE(run.Err.find(row.inStderr), std::string::npos) << row.arguments << "\n" << run.Err;
  }
}

TEST_F(VoarcCli, ArchivesReadBackThroughCatAndExtractInEveryMethod) {
  for (const char* method : {"lh5", "lzh", "non"}) {
    for (const char* key : {"", "-k -77"}) {
      const std::string options = std::string("-m ") + method + " " + key;
      ASSERT_EQ(Voarc("create " + options + " arc.voa a.txt noise.bin d empty").Code, 0);
      EXPECT_EQ(Voarc("test " + std::string(key) + " arc.voa").Code, 0) << options;
      const TRun cat = Voarc("cat " + std::string(key) + " arc.voa A.TXT");
      EXPECT_EQ(cat.Code, 0);
      EXPECT_EQ(TBytes(cat.Out.begin(), cat.Out.end()), Get("a.txt")) << options;
      fs::remove_all(Dir / "out");
      ASSERT_EQ(Voarc("extract " + std::string(key) + " -C out arc.voa").Code, 0) << options;
      for (const char* file : {"a.txt", "noise.bin", "d/one.txt", "d/sub/two.txt", "empty"})
        EXPECT_TRUE(SameFiles(file, std::string("out/") + file)) << options << " " << file;
    }
  }
}

TEST_F(VoarcCli, ThreadCountDoesNotChangeTheArchive) {
  ASSERT_EQ(Voarc("create -j 1 one.voa a.txt noise.bin d").Code, 0);
  ASSERT_EQ(Voarc("create -j 3 three.voa a.txt noise.bin d").Code, 0);
  EXPECT_TRUE(SameFiles("one.voa", "three.voa"));
}

TEST_F(VoarcCli, ExtractKeepsExistingFilesAndWritesOnlyWhatIsAsked) {
  ASSERT_EQ(Voarc("create arc.voa a.txt d").Code, 0);
  ASSERT_EQ(Voarc("extract -C out arc.voa 'D\\ONE.TXT'").Code, 0);
  EXPECT_TRUE(fs::exists(Dir / "out" / "d" / "one.txt"));
  EXPECT_FALSE(fs::exists(Dir / "out" / "a.txt"));
  Put("out/d/one.txt", {'k', 'e', 'e', 'p'});
  const TRun again = Voarc("extract -C out arc.voa");
  EXPECT_EQ(again.Code, 1);
  EXPECT_NE(again.Err.find("use -f to overwrite"), std::string::npos);
  EXPECT_EQ(Get("out/d/one.txt"), (TBytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(Voarc("extract -f -C out arc.voa").Code, 0);
  EXPECT_TRUE(SameFiles("d/one.txt", "out/d/one.txt"));
  EXPECT_EQ(Voarc("extract -C out arc.voa missing.txt").Code, 1);
}

TEST_F(VoarcCli, UnsafeNamesAreRefusedAndNothingLandsOutsideTheFolder) {
  const TBytes data = {'e', 'v', 'i', 'l'};
  const uint32_t sum = 'e' + 'v' + 'i' + 'l';
  const char* names[] = {"..\\escape.txt", "sub\\..\\..\\escape.txt", "\\rooted.txt",
                         "C:\\drive.txt", "/slash.txt"};
  for (const char* name : names) {
    Put("bad.voa", test::ArchiveBytes({{name, data, 4, 0, sum}}, "NON"));
    fs::remove_all(Dir / "out");
    fs::create_directories(Dir / "out");
    const TRun run = Voarc("extract -C out bad.voa");
    EXPECT_EQ(run.Code, 1) << name;
    EXPECT_NE(run.Err.find(std::string("refused entry \"") + name + "\""), std::string::npos)
        << run.Err;
    EXPECT_FALSE(fs::exists(Dir / "escape.txt"));
    EXPECT_TRUE(fs::is_empty(Dir / "out")) << name;
  }
}

TEST_F(VoarcCli, DamageFailsTestAndLeavesNoFileThatLooksComplete) {
  ASSERT_EQ(Voarc("create arc.voa a.txt noise.bin").Code, 0);
  TBytes archive = Get("arc.voa");
  // A flipped byte in the first entry's compressed data.
  TBytes flipped = archive;
  flipped[21 + 25 + 5 + 40] ^= 0x55;
  Put("flipped.voa", flipped);
  const TRun test_flipped = Voarc("test flipped.voa");
  EXPECT_EQ(test_flipped.Code, 1);
  EXPECT_NE(test_flipped.Out.find("FAILED       a.txt"), std::string::npos) << test_flipped.Out;
  EXPECT_EQ(Voarc("extract -C out flipped.voa a.txt").Code, 1);
  EXPECT_FALSE(fs::exists(Dir / "out" / "a.txt"));
  EXPECT_FALSE(fs::exists(Dir / "out" / "a.txt.voarc-part"));
  // Cut short: the reader's scan would end quietly, the test does not.
  for (std::size_t cut : {archive.size() - 1, archive.size() - 50000, std::size_t{21 + 10}}) {
    Put("cut.voa", TBytes(archive.begin(), archive.begin() + static_cast<long>(cut)));
    const TRun run = Voarc("test cut.voa");
    EXPECT_EQ(run.Code, 1) << cut;
    EXPECT_TRUE(run.Out.find("DAMAGED") != std::string::npos ||
                run.Out.find("FAILED") != std::string::npos)
        << cut << run.Out;
  }
}

TEST_F(VoarcCli, RawStreamsRoundTrip) {
  for (const char* method : {"lh5", "lzh"}) {
    for (const char* file : {"a.txt", "noise.bin", "empty"}) {
      const std::string m = method;
      ASSERT_EQ(Voarc("raw compress -m " + m, file).Code, 0);
      fs::copy_file(Dir / "stdout.txt", Dir / "packed", fs::copy_options::overwrite_existing);
      const auto size = fs::file_size(Dir / file);
      const TRun back = Voarc("raw expand -m " + m + " -n " + std::to_string(size), "packed");
      EXPECT_EQ(back.Code, 0);
      EXPECT_EQ(TBytes(back.Out.begin(), back.Out.end()), Get(file)) << method << " " << file;
    }
  }
  Put("rle", {0x41, 0x94, 0x05});
  EXPECT_EQ(Voarc("raw expand -m rle -n 5", "rle").Out, "AAAAA");
}

// A stream that ends before its size is reached fails at once, writing no byte past what it
// holds; it used to pass with zeros filling the rest.
TEST_F(VoarcCli, RawExpandOfAShortInputFails) {
  ASSERT_EQ(Voarc("raw compress -m lzh", "a.txt").Code, 0);
  const TBytes lzh = Get("stdout.txt");
  ASSERT_EQ(Voarc("raw compress -m lh5", "a.txt").Code, 0);
  const TBytes lh5 = Get("stdout.txt");
  Put("lzh-half", TBytes(lzh.begin(), lzh.begin() + static_cast<std::ptrdiff_t>(lzh.size() / 2)));
  Put("lh5-half", TBytes(lh5.begin(), lh5.begin() + static_cast<std::ptrdiff_t>(lh5.size() / 2)));
  Put("rle-cut", {0x41, 0x94});
  const auto size = std::to_string(fs::file_size(Dir / "a.txt"));
  struct Row {
    std::string arguments;
    std::string input;
  };
  const Row rows[] = {
      {"raw expand -m lh5 -n 1000", "empty"},       {"raw expand -m lzh -n 1000", "empty"},
      {"raw expand -m lh5 -n " + size, "lh5-half"}, {"raw expand -m lzh -n " + size, "lzh-half"},
      {"raw expand -m rle -n 0", "rle-cut"},
  };
  const TBytes text = Get("a.txt");
  for (const Row& row : rows) {
    const TRun run = Voarc(row.arguments, row.input);
    EXPECT_EQ(run.Code, 1) << row.arguments << " < " << row.input;
    EXPECT_NE(run.Err.find("voarc: EReadError: "), std::string::npos) << run.Err;
    EXPECT_LT(run.Out.size(), text.size()) << row.arguments << " < " << row.input;
  }
}

TEST_F(VoarcCli, SfxAttachesThePayloadAndInfoTellsIt) {
  const std::string stub = VO_SETUP_STUB;
  ASSERT_EQ(Voarc("create arc.voa a.txt").Code, 0);
  ASSERT_EQ(Voarc("sfx --stub '" + stub + "' -o setup.bin arc.voa").Code, 0);
  const auto stub_size = fs::file_size(stub);
  const TRun info = Voarc("info setup.bin");
  EXPECT_EQ(info.Code, 0);
  const std::size_t offset = (stub_size & 0xFF) == 'X' ? stub_size + 1 : stub_size;
  EXPECT_NE(info.Out.find("payload offset: " + std::to_string(offset)), std::string::npos)
      << info.Out;
  EXPECT_NE(info.Out.find("payload length: " + std::to_string(fs::file_size(Dir / "arc.voa"))),
            std::string::npos);
  EXPECT_NE(info.Out.find("a.txt"), std::string::npos);
  EXPECT_EQ(fs::status(Dir / "setup.bin").permissions(), fs::status(stub).permissions());
  const TRun again = Voarc("sfx --stub setup.bin -o twice.bin arc.voa");
  EXPECT_EQ(again.Code, 1);
  EXPECT_NE(again.Err.find("already carries a payload"), std::string::npos);
  EXPECT_FALSE(fs::exists(Dir / "twice.bin"));
  EXPECT_NE(Voarc("info '" + stub + "'").Out.find("a stub without payload"), std::string::npos);
  EXPECT_EQ(Voarc("sfx --stub a.txt -o none.bin arc.voa").Code, 1);
  EXPECT_FALSE(fs::exists(Dir / "none.bin"));

  // With --installer the archive is built on the way; the result runs natively.
  ASSERT_EQ(
      Voarc("sfx --stub '" + stub + "' -o built.bin --installer '" VO_TEST_INSTALLER "' d/one.txt")
          .Code,
      0);
  fs::create_directories(Dir / "win" / "system32");
  fs::create_directories(Dir / "tmp");
  Put("win/system32/RichEd32.dll", {});
  const TRun ran = Voarc("info built.bin");
  EXPECT_NE(ran.Out.find("Installer\\VoInstall.exe"), std::string::npos);
  const std::string run_setup = "cd '" + Dir.string() + "' && WINDIR='" + (Dir / "win").string() +
                                "' TMPDIR='" + (Dir / "tmp").string() + "' ./built.bin";
  EXPECT_EQ(std::system(run_setup.c_str()), 0);
  std::ifstream installer(VO_TEST_INSTALLER, std::ios::binary);
  EXPECT_EQ(Get("win/VoInstall.exe"), TBytes(std::istreambuf_iterator<char>(installer), {}));
}

TEST(VoarcKey, DecimalAndHexadecimalThirtyTwoBitKeys) {
  struct Row {
    const char* text;
    std::optional<int32_t> key;
  };
  const Row rows[] = {{"0", 0},
                      {"123", 123},
                      {"-1", -1},
                      {"2147483647", 2147483647},
                      {"-2147483648", INT32_MIN},
                      {"0x10", 16},
                      {"0XfF", 255},
                      {"0xFFFFFFFF", -1},
                      {"0x80000000", INT32_MIN},
                      {"2147483648", std::nullopt},
                      {"0x100000000", std::nullopt},
                      {"0x", std::nullopt},
                      {"0x-1", std::nullopt},
                      {"12a", std::nullopt},
                      {"", std::nullopt},
                      {" 1", std::nullopt},
                      {"+1", std::nullopt}};
  for (const Row& row : rows) EXPECT_EQ(voarc::ParseKey(row.text), row.key) << row.text;
}

TEST(VoarcReport, DosDateTimeAndMethodNames) {
  EXPECT_EQ(voarc::FormatDosDateTime(0x2b79753c), "2001-11-25 14:41:56");
  EXPECT_EQ(voarc::FormatDosDateTime(0x2b79753c, 'T'), "2001-11-25T14:41:56");
  EXPECT_EQ(voarc::FormatDosDateTime(0x00210000), "1980-01-01 00:00:00");
  EXPECT_EQ(voarc::MethodIdentifier(4), "LH5");
  EXPECT_EQ(voarc::MethodIdentifier(7), "#7");
}

}  // namespace
}  // namespace vo
