// voarc driven as a user drives it: command lines, their outputs, the files they leave and
// their exit codes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/archive_bytes.h"
#include "tests/support/scratch.h"
#include "tools/voarc/cli.h"
#include "tools/voarc/report.h"

namespace vo {
namespace {

namespace fs = std::filesystem;
using test::TBytes;

// A name as a failure message may print it.
std::string TerminalNameForTest(const std::string& name) {
  return voarc::TerminalText(name);
}

struct TRun {
  int Code;
  std::string Out;
  std::string Err;
};

class VoarcCli : public test::TTempDirTest {
 protected:
  // The command that runs the voarc under test: this build's, or the one VO_VOARC_RUN names,
  // such as voarc.exe under Wine.
  static std::string Tool() {
    const char* other = std::getenv("VO_VOARC_RUN");
    return other != nullptr && *other != '\0' ? other : "'" VO_VOARC "'";
  }
  static bool UnderWine() { return Tool().find("wine") != std::string::npos; }

  // A path as the tool under test shows it: with backslashes on Windows.
  static std::string Shown(std::string path) {
    if (UnderWine()) std::replace(path.begin(), path.end(), '/', '\\');
    return path;
  }

  // A Windows program ends its text lines with CR LF; the expectations are written with LF.
  // The bytes of cat and raw are no text and stay as they are.
  static std::string TextLines(std::string text) {
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
    return text;
  }

  void SetUp() override {
    TTempDirTest::SetUp();
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i * 7 % 101) + " of the text\n";
    Put("a.txt", TBytes(text.begin(), text.end()));
    Put("noise.bin", test::RandomBytes(50000, 7));
    fs::create_directories(Dir / "d" / "sub");
    Put("d/one.txt", TBytes(2000, 'x'));
    Put("d/sub/two.txt", TBytes(text.begin(), text.begin() + 500));
    Put("empty", {});
  }

  // Runs voarc in the test folder; stdin from `input` when given, stdout into `output` (which
  // Out then holds when it is a file in the test folder).
  TRun Voarc(const std::string& arguments, const std::string& input = "",
             const std::string& output = "stdout.txt") const {
    return Run(Tool(), arguments, input, output);
  }
  // This build's voarc, whatever runs the others.
  TRun NativeVoarc(const std::string& arguments) const {
    return Run("'" VO_VOARC "'", arguments, "", "stdout.txt");
  }
  TRun Run(const std::string& tool, const std::string& arguments, const std::string& input,
           const std::string& output) const {
    std::string command = "cd '" + Dir.string() + "' && " + tool + " " + arguments;
    if (!input.empty()) command += " < " + input;
    command += " > " + output + " 2> stderr.txt";
    const int status = std::system(command.c_str());
    const TBytes out = output.find('/') == std::string::npos ? Get(output) : TBytes{};
    const TBytes err = Get("stderr.txt");
    TRun run{WEXITSTATUS(status), std::string(out.begin(), out.end()),
             std::string(err.begin(), err.end())};
    if (tool != "'" VO_VOARC "'") {
      run.Err = TextLines(run.Err);
      const bool bytes = arguments.rfind("cat ", 0) == 0 || arguments.rfind("raw ", 0) == 0;
      if (!bytes) run.Out = TextLines(run.Out);
    }
    return run;
  }
  bool SameFiles(const std::string& a, const std::string& b) const { return Get(a) == Get(b); }

  // Every file and link under folder (the test folder when empty), relative to it, sorted;
  // the captured outputs of Voarc are left out.
  std::vector<std::string> Files(const std::string& folder = "") const {
    const fs::path root = folder.empty() ? Dir : Dir / folder;
    std::vector<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
      const std::string name = item.path().lexically_relative(root).generic_string();
      if (!fs::is_directory(item.symlink_status()) && name != "stdout.txt" && name != "stderr.txt")
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  struct Row {
    const char* arguments;
    int code;
    const char* inStdout;
    const char* inStderr;
  };
  // Runs each row, standard input from input when given, and checks its exit code and that
  // its outputs hold the texts.
  template <typename Rows>
  void RunRows(const Rows& rows, const std::string& input = "") const {
    for (const Row& row : rows) {
      const std::string arguments = row.arguments;
      const bool redirected = arguments.find('<') != std::string::npos;
      const TRun run = Voarc(arguments, redirected ? "" : input);
      EXPECT_EQ(run.Code, row.code) << arguments << "\n" << run.Err;
      EXPECT_NE(run.Out.find(row.inStdout), std::string::npos) << arguments << "\n" << run.Out;
      EXPECT_NE(run.Err.find(row.inStderr), std::string::npos) << arguments << "\n" << run.Err;
    }
  }

  // The entry names of an archive as list --json gives them.
  std::vector<std::string> Names(const std::string& archive,
                                 const std::string& options = "") const {
    const TRun run = Voarc("list --json " + options + " '" + archive + "'");
    std::vector<std::string> names;
    const std::string key = "{\"name\": \"";
    for (std::size_t at = 0; (at = run.Out.find(key, at)) != std::string::npos;) {
      at += key.size();
      std::string name;
      for (; at < run.Out.size() && run.Out[at] != '"'; ++at) {
        if (run.Out[at] == '\\') ++at;
        name += run.Out[at];
      }
      names.push_back(name);
    }
    return names;
  }

  static TBytes Bytes(const std::string& text) { return TBytes(text.begin(), text.end()); }
  static TBytes Concatenated(TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  static std::time_t LocalMoment(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
  }
  std::time_t ModifiedAt(const std::string& name) const {
    return std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(fs::last_write_time(Dir / name))));
  }

  // Flips one byte of the file, at offset from its start.
  void Flip(const std::string& name, std::size_t offset) const {
    TBytes bytes = Get(name);
    bytes.at(offset) ^= 0x20;
    Put(name, bytes);
  }
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
      {"test missing.voa", 1, "", "voarc: EFOpenError: cannot open missing.voa: "},
      {"cat arc.voa nowhere", 1, "", "no entry named \"nowhere\""},
      {"create -m bogus x.voa a.txt", 2, "", "voarc: "},
      {"create -k 12abc x.voa a.txt", 2, "", "KEY '12abc' is not a 32-bit number"},
      {"create -k 4294967296 x.voa a.txt", 2, "", "not a 32-bit number"},
      {"create -k 0x1FFFFFFFF x.voa a.txt", 2, "", "not a 32-bit number"},
      {"create x.voa no-such-file", 1, "", "no such file or folder: no-such-file"},
      {"create x.voa '..\\up=a.txt'", 1, "", "voarc: EInvalidEntryName: "},
      {"create x.voa './.=a.txt'", 1, "", "separators must be backslashes"},
      {"create -m non -k 5 x.voa a.txt", 2, "", "voarc: -m non cannot take a key"},
      {"create x.voa ./a.txt d/", 0, "", ""},
      {"list x.voa", 0, "d\\one.txt", ""},
      {"create -m non stored.voa a.txt", 0, "", ""},
      {"test stored.voa", 0, "OK           a.txt", ""},
      {"list stored.voa", 0, "NON", ""},
      {"create -k 0x7fffffff -m lzh locked.voa a.txt", 0, "", ""},
      {"list locked.voa", 0, "locked", ""},
      {"test locked.voa", 1, "FAILED       a.txt: EInvalidKey: File locked -- valid key required",
       "test failed"},
      {"test -k 2147483647 locked.voa", 0, "OK", ""},
      {"test -k -2147483648 locked.voa", 1, "EInvalidKey", ""},
      {"", 2, "", "voarc: "},
      {"nonsense", 2, "", "voarc: unknown command 'nonsense'\n"},
      {"-q nonsense a.voa", 2, "", "voarc: unknown command 'nonsense'\n"},
      {"raw nonsense", 2, "", "voarc: unknown command 'raw nonsense'\n"},
      {"--version", 0, "voarc (VoInstall) ", ""},
      {"list --codepage 99999 x.voa", 2, "", "code page '99999' is not one this system converts"},
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
      if (std::string(method) == "non" && *key != '\0') continue;  // a usage error
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
  // A Windows program gives its files no POSIX modes.
  if (!UnderWine()) {
    EXPECT_EQ(fs::status(Dir / "setup.bin").permissions(), fs::status(stub).permissions());
  }
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
  if (UnderWine()) fs::permissions(Dir / "built.bin", fs::perms::owner_exec, fs::perm_options::add);
  const std::string run_setup = "cd '" + Dir.string() + "' && WINDIR='" + (Dir / "win").string() +
                                "' TMPDIR='" + (Dir / "tmp").string() + "' ./built.bin";
  EXPECT_EQ(std::system(run_setup.c_str()), 0);
  std::ifstream installer(VO_TEST_INSTALLER, std::ios::binary);
  EXPECT_EQ(Get("win/VoInstall.exe"), TBytes(std::istreambuf_iterator<char>(installer), {}));
}

TEST_F(VoarcCli, StoredEntriesAreCheckedByTestExtractAndCat) {
  ASSERT_EQ(Voarc("create -m non stored.voa a.txt d").Code, 0);
  Flip("stored.voa", 21 + 25 + 5 + 100);  // a byte of a.txt's data
  const char* kStored = "EBadChecksum: Stored entry: its byte sum differs from its checksum";
  const TRun test = Voarc("test stored.voa");
  EXPECT_EQ(test.Code, 1);
  EXPECT_NE(test.Out.find(std::string("FAILED       a.txt: ") + kStored), std::string::npos)
      << test.Out;
  EXPECT_NE(test.Out.find("OK           d\\one.txt"), std::string::npos);
  const TRun extract = Voarc("extract -C out stored.voa");
  EXPECT_EQ(extract.Code, 1);
  EXPECT_NE(extract.Err.find(std::string("voarc: a.txt: ") + kStored), std::string::npos)
      << extract.Err;
  // What verifies is written; what does not leaves no file at all.
  EXPECT_EQ(Files("out"), (std::vector<std::string>{"d/one.txt", "d/sub/two.txt"}));
  const TRun cat = Voarc("cat stored.voa a.txt");
  EXPECT_EQ(cat.Code, 1);
  EXPECT_NE(cat.Err.find(kStored), std::string::npos) << cat.Err;
  EXPECT_EQ(Voarc("cat stored.voa d\\\\one.txt").Code, 0);
}

TEST_F(VoarcCli, AKeyHidesEveryEntryAndNoneIsStored) {
  ASSERT_EQ(Voarc("create -k 0x1234567 keyed.voa a.txt noise.bin empty").Code, 0);
  const TRun list = Voarc("list keyed.voa");
  for (const char* name : {"a.txt", "noise.bin", "empty"}) {
    const std::size_t at = list.Out.find(std::string(name) + "  locked");
    ASSERT_NE(at, std::string::npos) << name << "\n" << list.Out;
    EXPECT_EQ(list.Out.compare(list.Out.rfind('\n', at) + 1, 3, "LH5"), 0) << list.Out;
  }
  // No line of the text, no run of the noise, can be found in the archive.
  const TBytes archive = Get("keyed.voa");
  const TBytes noise = Get("noise.bin");
  const std::string line = "line 42 of the text";
  EXPECT_EQ(std::search(archive.begin(), archive.end(), line.begin(), line.end()), archive.end());
  EXPECT_EQ(std::search(archive.begin(), archive.end(), noise.begin() + 1000, noise.begin() + 1016),
            archive.end());
  const TRun without = Voarc("test keyed.voa");
  EXPECT_EQ(without.Code, 1);
  EXPECT_NE(without.Out.find("FAILED       noise.bin: EInvalidKey"), std::string::npos)
      << without.Out;
  EXPECT_EQ(Voarc("extract -C out keyed.voa").Code, 1);
  EXPECT_TRUE(Files("out").empty());
  EXPECT_EQ(Voarc("test -k 0x1234567 keyed.voa").Code, 0);
}

TEST_F(VoarcCli, DamageFailsExtractAsItFailsTest) {
  const TBytes good = test::EntryBytes({"good.txt", {'o', 'k'}, 2, 0, 'o' + 'k'});
  const auto archive = [&](std::vector<test::TRawEntry> more, int32_t total) {
    TBytes bytes = test::ArchiveHeaderBytes("LH5", total);
    bytes.insert(bytes.end(), good.begin(), good.end());
    for (const test::TRawEntry& e : more) {
      const TBytes b = test::EntryBytes(e);
      bytes.insert(bytes.end(), b.begin(), b.end());
    }
    return bytes;
  };
  const TBytes x = {'x'};
  struct Case {
    const char* what;
    TBytes archive;
    const char* damage;
  };
  const Case cases[] = {
      {"negative name length", archive({{"bad", x, 1, 0, 'x', 0, std::nullopt, -2}}, 3),
       "an entry name is cut short"},
      {"negative compressed size", archive({{"bad", x, 1, 0, 'x', 0, -1}}, 3),
       "an entry header holds a negative size"},
      {"name past the end of the file", archive({{"bad", {}, 1, 0, 'x', 0, 1, 300}}, 3),
       "an entry name is cut short"},
      {"entry past the total", archive({{"late.txt", x, 1, 0, 'x'}}, 2),
       "1 entry lies past the archive's total of 2 bytes"},
      {"data cut short", archive({{"cut.txt", x, 1, 0, 'x', 0, 50}}, 3),
       "the data of \"cut.txt\" is cut short"},
  };
  for (const Case& c : cases) {
    Put("damaged.voa", c.archive);
    fs::remove_all(Dir / "out");
    const TRun test = Voarc("test damaged.voa");
    EXPECT_EQ(test.Code, 1) << c.what;
    EXPECT_NE(test.Out.find(std::string("DAMAGED      ") + c.damage), std::string::npos)
        << c.what << "\n"
        << test.Out;
    const TRun extract = Voarc("extract -C out damaged.voa");
    EXPECT_EQ(extract.Code, 1) << c.what;
    EXPECT_NE(extract.Err.find(std::string("voarc: damaged.voa: damaged archive: ") + c.damage),
              std::string::npos)
        << c.what << "\n"
        << extract.Err;
    EXPECT_EQ(Get("out/good.txt"), (TBytes{'o', 'k'})) << c.what;  // what verifies is written
  }
}

TEST_F(VoarcCli, AFileShorterThanAnArchiveHeaderIsNoArchive) {
  for (std::size_t size : {0, 3, 20}) {
    Put("short.voa", TBytes(size, 'Q'));
    for (const char* command : {"list", "list --json", "test", "extract -C out", "cat"}) {
      const std::string arguments =
          std::string(command) + " short.voa" + (std::string(command) == "cat" ? " x" : "");
      const TRun run = Voarc(arguments);
      EXPECT_EQ(run.Code, 1) << arguments << " " << size;
      EXPECT_EQ(run.Err,
                "voarc: short.voa is not an archive: it is shorter than an archive header "
                "(21 bytes)\n")
          << arguments;
      EXPECT_EQ(run.Out, "") << arguments;
    }
  }
  // The smallest archive is a header alone: no entries, and sound.
  ASSERT_EQ(Voarc("create -m non empty.voa empty").Code, 1);  // only empty entries: refused
  Put("header.voa", test::ArchiveHeaderBytes("LH5", 0));
  EXPECT_EQ(Voarc("test header.voa").Code, 0);
  EXPECT_NE(Voarc("list header.voa").Out.find("0 entries"), std::string::npos);
}

TEST_F(VoarcCli, SfxChecksWhatItAttachesAndCodesTheInstaller) {
  const std::string stub = VO_SETUP_STUB;
  const std::string sfx = "sfx --stub '" + stub + "' -o setup.bin ";
  ASSERT_EQ(Voarc("create -m non stored.voa a.txt 'Installer\\VoInstall.exe=d/one.txt'").Code, 0);
  ASSERT_EQ(Voarc("create -m non flipped.voa a.txt").Code, 0);
  Flip("flipped.voa", 21 + 25 + 5 + 100);
  Put("short.voa", {'Q', 'E', 'L'});
  struct Case {
    const char* archive;
    const char* inStderr;
  };
  const Case cases[] = {
      {"flipped.voa", "FAILED       a.txt: EBadChecksum: Stored entry"},
      {"flipped.voa", "voarc: flipped.voa fails its test: no setup was written"},
      {"a.txt", "voarc: EInvalidHeader: Can't recognize compressed file header"},
      {"short.voa", "short.voa is not an archive"},
      {"stored.voa", "stored.voa holds the installer stored, where no checksum covers it"},
  };
  const std::vector<std::string> before = Files();
  for (const Case& c : cases) {
    const TRun run = Voarc(sfx + c.archive);
    EXPECT_EQ(run.Code, 1) << c.archive;
    EXPECT_NE(run.Err.find(c.inStderr), std::string::npos) << c.archive << "\n" << run.Err;
    EXPECT_EQ(Files(), before) << c.archive;
  }
  // A built archive never stores the installer, even when that makes it larger.
  ASSERT_EQ(Voarc(sfx + "--installer noise.bin a.txt").Code, 0);
  const TRun info = Voarc("info setup.bin");
  EXPECT_NE(info.Out.find("LH5           50000"), std::string::npos) << info.Out;
  const TRun same = Voarc(sfx + "--installer a.txt 'INSTALLER\\VOINSTALL.EXE=noise.bin'");
  EXPECT_EQ(same.Code, 1);
  EXPECT_NE(same.Err.find("voarc: EDuplicateEntryName: Entry names equal but for case: "
                          "\"Installer\\VoInstall.exe\" from a.txt and "
                          "\"INSTALLER\\VOINSTALL.EXE\" from noise.bin"),
            std::string::npos)
      << same.Err;
}

TEST_F(VoarcCli, NamesEqualButForCaseAreRefusedByCreate) {
  const TRun run = Voarc("create d.voa x=a.txt X=noise.bin");
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(run.Err,
            "voarc: EDuplicateEntryName: Entry names equal but for case: \"x\" from a.txt and "
            "\"X\" from noise.bin\n");
  EXPECT_FALSE(fs::exists(Dir / "d.voa"));
}

TEST_F(VoarcCli, PlantedLinksAreNeverFollowed) {
  ASSERT_EQ(Voarc("create arc.voa a.txt d").Code, 0);
  Put("victim", {'v'});
  fs::create_directories(Dir / "elsewhere");
  fs::create_directories(Dir / "out");
  // The names of former temporary files, and the final names themselves.
  fs::create_symlink(Dir / "victim", Dir / "out" / "a.txt.voarc-part");
  fs::create_symlink(Dir / "victim", Dir / "setup.bin.voarc-part");
  fs::create_symlink(Dir / "victim", Dir / "linked.voa");
  fs::create_symlink(Dir / "elsewhere", Dir / "out" / "d");
  const TRun extract = Voarc("extract -C out arc.voa");
  EXPECT_EQ(extract.Code, 1);
  EXPECT_NE(extract.Err.find("refused entry \"d\\one.txt\": out/d is a link"), std::string::npos)
      << extract.Err;
  EXPECT_TRUE(SameFiles("a.txt", "out/a.txt"));
  EXPECT_TRUE(fs::is_empty(Dir / "elsewhere"));
  EXPECT_EQ(Get("victim"), TBytes{'v'});

  // A link at the final name is a file that exists; with -f it is replaced, not followed.
  fs::remove(Dir / "out" / "a.txt");
  fs::create_symlink(Dir / "victim", Dir / "out" / "a.txt");
  EXPECT_EQ(Voarc("extract -C out arc.voa a.txt").Code, 1);
  EXPECT_EQ(Voarc("extract -f -C out arc.voa a.txt").Code, 0);
  EXPECT_FALSE(fs::is_symlink(Dir / "out" / "a.txt"));
  EXPECT_TRUE(SameFiles("a.txt", "out/a.txt"));
  EXPECT_EQ(Voarc("create linked.voa a.txt").Code, 0);
  EXPECT_FALSE(fs::is_symlink(Dir / "linked.voa"));
  EXPECT_EQ(Voarc("sfx --stub '" VO_SETUP_STUB "' -o setup.bin arc.voa").Code, 0);
  EXPECT_EQ(Get("victim"), TBytes{'v'});
  // A folder at the final name is never replaced.
  fs::create_directories(Dir / "folder.voa");
  EXPECT_EQ(Voarc("create folder.voa a.txt").Code, 1);
  EXPECT_TRUE(fs::is_directory(Dir / "folder.voa"));
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.txt", "arc.voa", "d/one.txt", "d/sub/two.txt",
                                               "empty", "linked.voa", "noise.bin", "out/a.txt",
                                               "out/a.txt.voarc-part", "out/d", "setup.bin",
                                               "setup.bin.voarc-part", "victim"}));
}

TEST_F(VoarcCli, NamesThatWouldLeaveOrReplaceTheFolderAreRefused) {
  const TBytes data = {'e', 'v', 'i', 'l'};
  const uint32_t sum = 'e' + 'v' + 'i' + 'l';
  const std::string names[] = {".",    "sub\\.", "sub\\", "sub\\\\x",
                               ".\\x", "...",    "x\x1b", std::string("x\0y", 3),
                               "x\r",  "x\x7f"};
  for (const std::string& name : names) {
    Put("bad.voa", test::ArchiveBytes({{name, data, 4, 0, sum}}, "NON"));
    fs::remove_all(Dir / "w");
    fs::create_directories(Dir / "w");
    for (const char* force : {"", "-f "}) {
      const TRun run = Voarc(std::string("extract ") + force + "-C w/new bad.voa");
      EXPECT_EQ(run.Code, 1) << TerminalNameForTest(name);
      EXPECT_NE(run.Err.find("refused entry"), std::string::npos) << run.Err;
      EXPECT_EQ(Files("w"), std::vector<std::string>{}) << TerminalNameForTest(name);
    }
  }
}

TEST_F(VoarcCli, NamesReachTheTerminalEscaped) {
  const std::string name =
      "x\x1b]0;owned\x07\r\nOK           fake\x9b"
      "2J";
  const TBytes data = {'d'};
  Put("esc.voa", test::ArchiveBytes({{name, data, 1, 0, 'd' + 1}}, "NON"));
  const std::string shown = "x\\x1b]0;owned\\x07\\x0d\\x0aOK           fake\\x9b2J";
  // In the code page of UTF-8 the 0x9B byte is no character: it is shown as it is.
  const std::string utf8 = " --codepage 65001 ";
  const TRun list = Voarc("list" + utf8 + "esc.voa");
  const TRun test = Voarc("test" + utf8 + "esc.voa");
  const TRun extract = Voarc("extract" + utf8 + "-C out esc.voa");
  const TRun cat = Voarc("cat" + utf8 + "esc.voa nothing-here");
  for (const TRun* run : {&list, &test, &extract, &cat}) {
    for (const std::string* text : {&run->Out, &run->Err}) {
      EXPECT_EQ(std::count_if(text->begin(), text->end(),
                              [](char c) {
                                const auto b = static_cast<unsigned char>(c);
                                return (b < 0x20 && c != '\n') || b == 0x7F || b >= 0x80;
                              }),
                0)
          << *text;
    }
  }
  EXPECT_NE(list.Out.find(shown), std::string::npos) << list.Out;
  EXPECT_NE(test.Out.find("FAILED       " + shown + ": EBadChecksum"), std::string::npos)
      << test.Out;
  EXPECT_NE(extract.Err.find("refused entry \"" + shown + "\": holds a control byte"),
            std::string::npos)
      << extract.Err;
  const TRun json = Voarc("list --json" + utf8 + "esc.voa");
  EXPECT_NE(json.Out.find("\"name\": \"x\\u001b]0;owned\\u0007\\r\\nOK           fake\\u009b2J\""),
            std::string::npos)
      << json.Out;
}

// voarc.exe takes Windows paths, with a drive letter or relative, and its archives are those of
// the Linux tool, whatever the thread count.
TEST_F(VoarcCli, WindowsPathsAndTheSameBytesAsOnLinux) {
  if (!UnderWine()) GTEST_SKIP() << "for voarc.exe under Wine (VO_VOARC_RUN)";
  // The test folder as Windows names it: Wine's Z: drive is the Unix root.
  std::string windows = "Z:" + Dir.string();
  std::replace(windows.begin(), windows.end(), '/', '\\');
  const std::string items = "a.txt noise.bin d empty";
  ASSERT_EQ(Voarc("create -j 2 '" + windows + "\\win.voa' " + items).Code, 0);
  ASSERT_EQ(NativeVoarc("create -j 1 linux.voa " + items).Code, 0);
  EXPECT_TRUE(SameFiles("win.voa", "linux.voa")) << "voarc.exe -j 2 and voarc -j 1 differ";
  ASSERT_EQ(Voarc("create -m lzh -j 2 win-lzh.voa " + items).Code, 0);
  ASSERT_EQ(NativeVoarc("create -m lzh -j 1 linux-lzh.voa " + items).Code, 0);
  EXPECT_TRUE(SameFiles("win-lzh.voa", "linux-lzh.voa"));

  EXPECT_EQ(Voarc("test '" + windows + "\\linux.voa'").Code, 0);
  EXPECT_EQ(Voarc("extract -C '" + windows + "\\out\\deep' win.voa").Code, 0);
  EXPECT_EQ(Voarc("extract -C 'out\\rel' win.voa 'd\\sub\\two.txt'").Code, 0);
  EXPECT_TRUE(SameFiles("d/one.txt", "out/deep/d/one.txt"));
  EXPECT_TRUE(SameFiles("noise.bin", "out/deep/noise.bin"));
  EXPECT_TRUE(SameFiles("d/sub/two.txt", "out/rel/d/sub/two.txt"));
  const TRun cat = Voarc("cat win.voa noise.bin");
  EXPECT_EQ(TBytes(cat.Out.begin(), cat.Out.end()), Get("noise.bin"));
}

// An interrupt that reaches voarc while it writes a temporary file: the file goes, and the
// process ends as the signal would have ended it.
TEST_F(VoarcCli, InterruptsLeaveNothingBehind) {
  Put("big.bin", test::RandomBytes(4 << 20, 11));
  ASSERT_EQ(Voarc("create -m lzh -k 5 big.voa big.bin").Code, 0);
  fs::create_directories(Dir / "out");
  struct Case {
    std::vector<std::string> arguments;
    std::string folder;  // where the temporary file appears
  };
  const Case cases[] = {
      {{"create", "-j", "1", "-m", "lzh", "new.voa", "big.bin"}, ""},
      {{"extract", "-k", "5", "-C", "out", "big.voa"}, "out"},
      {{"sfx", "--stub", VO_SETUP_STUB, "-o", "setup.bin", "--installer", "big.bin"}, ""},
  };
  for (const Case& c : cases) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      const std::vector<std::string> before = Files(c.folder);
      std::vector<char*> argv = {const_cast<char*>(VO_VOARC)};
      for (const std::string& a : c.arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      const pid_t pid = ::fork();
      if (pid == 0) {
        if (::chdir(Dir.c_str()) != 0) std::_Exit(126);
        std::freopen("/dev/null", "w", stderr);
        ::execv(VO_VOARC, argv.data());
        std::_Exit(127);
      }
      ASSERT_GT(pid, 0);
      bool sent = false;
      int status = 0;
      for (int tries = 0; tries < 200000 && !sent; ++tries) {
        if (::waitpid(pid, &status, WNOHANG) == pid) break;  // ended before it could be caught
        if (Files(c.folder).size() > before.size()) {
          ::kill(pid, signal);
          sent = true;
        }
      }
      if (sent) ::waitpid(pid, &status, 0);
      ASSERT_TRUE(sent) << c.arguments[0] << " ended before its temporary file was seen";
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
          << c.arguments[0] << " " << signal << " status " << status;
      EXPECT_EQ(Files(c.folder), before) << c.arguments[0] << " " << signal;
    }
  }
}

// A built setup is read as the archive it carries, found through the stamp as the loader
// finds it, wherever an archive is read.
TEST_F(VoarcCli, SetupsOpenAsTheArchiveTheyCarry) {
  ASSERT_EQ(Voarc("create arc.voa a.txt noise.bin d").Code, 0);
  ASSERT_EQ(Voarc("sfx --stub '" VO_SETUP_STUB "' -o setup.bin arc.voa").Code, 0);
  TBytes cut = Get("setup.bin");
  cut.resize(cut.size() - 10);
  Put("cut.bin", cut);
  const Row rows[] = {
      {"list setup.bin", 0, "d\\sub\\two.txt", ""},
      {"list --json setup.bin", 0, "\"name\": \"noise.bin\"", ""},
      {"test setup.bin", 0, "OK           d\\one.txt", ""},
      {"extract -C out setup.bin", 0, "", ""},
      {"list cut.bin", 1, "", "voarc: cut.bin: the payload of this setup is cut short: "},
      {"list '" VO_SETUP_STUB "'", 1, "", "EInvalidHeader"},
  };
  RunRows(rows);
  // The Windows setup, where that stub has been built.
  if (Voarc("sfx --stub win64 -o Setup.exe arc.voa").Code == 0) {
    const Row windows[] = {
        {"list Setup.exe", 0, "d\\sub\\two.txt", ""},
        {"test Setup.exe", 0, "OK           noise.bin", ""},
    };
    RunRows(windows);
  }
  const TRun cat = Voarc("cat setup.bin noise.bin");
  EXPECT_EQ(TBytes(cat.Out.begin(), cat.Out.end()), Get("noise.bin"));
  for (const char* file : {"a.txt", "noise.bin", "d/one.txt", "d/sub/two.txt"})
    EXPECT_TRUE(SameFiles(file, std::string("out/") + file)) << file;
}

// Entry names are bytes of a Windows code page (1252 unless --codepage says another); the
// tool's own text is UTF-8 both ways, and a name the code page cannot hold is refused.
TEST_F(VoarcCli, NamesAreStoredInAWindowsCodePage) {
  struct Case {
    const char* file;
    const char* options;
    std::string stored;
  };
  const Case cases[] = {
      {"café.txt", "", "caf\xe9.txt"},
      {"Ärger.txt", "--codepage 1252", "\xc4rger.txt"},
      {"zło.txt", "--codepage 1250", "z\xb3o.txt"},
      {"мир.txt", "--codepage 1251", "\xec\xe8\xf0.txt"},
      {"日本.txt", "--codepage 932", "\x93\xfa\x96\x7b.txt"},
  };
  for (const Case& c : cases) {
    const std::string options = c.options;
    const std::string file = c.file;
    Put(file, Bytes(file));
    fs::remove_all(Dir / "out");
    ASSERT_EQ(Voarc("create " + options + " cp.voa '" + file + "'").Code, 0) << file;
    const TBytes archive = Get("cp.voa");
    const TBytes stored = Bytes(c.stored);
    EXPECT_NE(std::search(archive.begin(), archive.end(), stored.begin(), stored.end()),
              archive.end())
        << file << ": not stored in the code page";
    EXPECT_NE(Voarc("list " + options + " cp.voa").Out.find("  " + file + "\n"), std::string::npos)
        << file;
    EXPECT_EQ(Names("cp.voa", options), std::vector<std::string>{file});
    EXPECT_EQ(Voarc("cat " + options + " cp.voa '" + file + "'").Out, file);
    EXPECT_EQ(Voarc("extract " + options + " -C out cp.voa").Code, 0) << file;
    EXPECT_EQ(Get("out/" + file), Bytes(file));
  }
  // No form in the default code page: refused, naming the file, and nothing is written.
  fs::remove(Dir / "cp.voa");
  const TRun refused = Voarc("create cp.voa a.txt 'zło.txt'");
  EXPECT_EQ(refused.Code, 1);
  EXPECT_NE(refused.Err.find("\"zło.txt\" from zło.txt: no form in code page 1252"),
            std::string::npos)
      << refused.Err;
  EXPECT_FALSE(fs::exists(Dir / "cp.voa"));
  // Bytes written by another tool.
  Put("hand.voa", test::ArchiveBytes({{"caf\xe9\\d.txt", {'d'}, 1, 0, 'd'}}, "NON"));
  EXPECT_NE(Voarc("list hand.voa").Out.find("  café\\d.txt\n"), std::string::npos)
      << Voarc("list hand.voa").Out;
}

// Names typed on the command line: / or \ between folders, * and ? within a part, a folder for
// everything under it, ASCII case ignored.
TEST_F(VoarcCli, TypedNamesPickEntries) {
  ASSERT_EQ(Voarc("create arc.voa a.txt noise.bin d empty").Code, 0);
  const std::vector<std::string> inD = {"d/one.txt", "d/sub/two.txt"};
  struct Case {
    const char* names;
    std::vector<std::string> files;
    int code;
  };
  const Case cases[] = {
      {"d/one.txt", {"d/one.txt"}, 0},
      {"'D\\ONE.TXT'", {"d/one.txt"}, 0},
      {"d", inD, 0},
      {"d/", inD, 0},
      {"'d\\sub'", {"d/sub/two.txt"}, 0},
      {"'*.txt'", {"a.txt"}, 0},
      {"'*/*.txt'", {"d/one.txt"}, 0},
      {"'d/*/t?o.txt'", {"d/sub/two.txt"}, 0},
      {"'n*' 'e?pty'", {"empty", "noise.bin"}, 0},
      {"'*'", {"a.txt", "d/one.txt", "d/sub/two.txt", "empty", "noise.bin"}, 0},
      {"d/on", {}, 1},  // a part matches whole
      {"'?'", inD, 0},  // the folder d
      {"'?"
       "?'",
       {},
       1},
  };
  for (const Case& c : cases) {
    fs::remove_all(Dir / "out");
    fs::create_directories(Dir / "out");
    const TRun run = Voarc(std::string("extract -C out arc.voa ") + c.names);
    EXPECT_EQ(run.Code, c.code) << c.names << "\n" << run.Err;
    EXPECT_EQ(Files("out"), c.files) << c.names;
    for (const std::string& file : c.files) EXPECT_TRUE(SameFiles(file, "out/" + file)) << file;
  }
  // cat writes what a folder holds in archive order.
  const TBytes both = Concatenated(Get("d/one.txt"), Get("d/sub/two.txt"));
  for (const char* names : {"d/", "'D\\*\\t*' 'd/o*'"}) {
    const TRun cat = Voarc(std::string("cat arc.voa ") + names);
    EXPECT_EQ(cat.Code, 0) << names;
    if (std::string(names) == "d/") {
      EXPECT_EQ(TBytes(cat.Out.begin(), cat.Out.end()), both);
    }
  }
  EXPECT_EQ(Voarc("cat arc.voa 'x*'").Code, 1);
}

// Each extracted file gets the time stored in its entry: a DOS time in local time, in steps of
// two seconds, from 1980 on.
TEST_F(VoarcCli, ExtractGivesEachFileItsStoredTime) {
  struct Case {
    int year, month, day, hour, minute, second;
    std::time_t expected;
  };
  const Case cases[] = {
      {2019, 3, 4, 5, 6, 7, LocalMoment(2019, 3, 4, 5, 6, 6)},
      {2024, 2, 29, 23, 59, 58, LocalMoment(2024, 2, 29, 23, 59, 58)},
      {1975, 6, 1, 12, 0, 0, LocalMoment(1980, 1, 1, 0, 0, 0)},
  };
  for (const Case& c : cases) {
    fs::remove_all(Dir / "out");
    const std::time_t when = LocalMoment(c.year, c.month, c.day, c.hour, c.minute, c.second);
    fs::last_write_time(Dir / "a.txt", std::chrono::file_clock::from_sys(
                                           std::chrono::system_clock::from_time_t(when)));
    ASSERT_EQ(Voarc("create t.voa a.txt").Code, 0);
    ASSERT_EQ(Voarc("extract -C out t.voa").Code, 0);
    EXPECT_EQ(ModifiedAt("out/a.txt"), c.expected) << c.year;
  }
  // Written by another tool: the time 2001-11-25 14:41:56 of its headers.
  Put("hand.voa", test::ArchiveBytes({{"h.txt", {'d'}, 1, 0, 'd'}}, "NON"));
  ASSERT_EQ(Voarc("extract -C out hand.voa").Code, 0);
  EXPECT_EQ(ModifiedAt("out/h.txt"), LocalMoment(2001, 11, 25, 14, 41, 56));
}

// A link in a folder stands for what it leads to, under its own name (as tar -h stores it);
// what leads nowhere, or round in a circle, is left out with a note.
TEST_F(VoarcCli, LinksInAFolderAreStoredAsWhatTheyLeadTo) {
  fs::create_directories(Dir / "tree");
  Put("tree/real.txt", Bytes("real"));
  fs::create_symlink("real.txt", Dir / "tree" / "alias.txt");
  fs::create_symlink(Dir / "a.txt", Dir / "tree" / "absolute.txt");
  fs::create_symlink("/nonexistent/nowhere", Dir / "tree" / "dangling");
  fs::create_directory_symlink(".", Dir / "tree" / "loop");
  fs::create_directory_symlink(Dir / "d", Dir / "tree" / "dlink");
  const TRun run = Voarc("create t.voa tree");
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(Names("t.voa"), (std::vector<std::string>{
                                "tree\\absolute.txt", "tree\\alias.txt", "tree\\dlink\\one.txt",
                                "tree\\dlink\\sub\\two.txt", "tree\\real.txt"}));
  EXPECT_NE(run.Err.find("skipped tree/dangling: a link that leads nowhere"), std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("skipped tree/loop: a link to a folder that holds it"), std::string::npos)
      << run.Err;
  ASSERT_EQ(Voarc("extract -C out t.voa").Code, 0);
  EXPECT_FALSE(fs::is_symlink(Dir / "out" / "tree" / "alias.txt"));
  EXPECT_EQ(Get("out/tree/alias.txt"), Bytes("real"));
  EXPECT_TRUE(SameFiles("a.txt", "out/tree/absolute.txt"));
}

// An item given by an absolute path or with leading ".." is stored relative to that point, and
// the tool says what it left out; NAME=PATH gives any name.
TEST_F(VoarcCli, ItemsFromElsewhereLoseTheirLeadingParts) {
  const std::string here = Dir.string();
  const std::string up = "../" + Dir.filename().string();
  struct Case {
    std::string items;
    std::vector<std::string> names;
    bool told;
  };
  const Case cases[] = {
      {"'" + here + "/a.txt'", {"a.txt"}, true},
      {"'" + here + "/d'", {"d\\one.txt", "d\\sub\\two.txt"}, true},
      {"'" + here + "/d/'", {"d\\one.txt", "d\\sub\\two.txt"}, true},
      {"'" + up + "/d/sub/two.txt'", {"two.txt"}, true},
      {"'x\\y.txt=" + here + "/a.txt'", {"x\\y.txt"}, false},
      {"./d/../a.txt", {"a.txt"}, false},
  };
  for (const Case& c : cases) {
    fs::remove(Dir / "x.voa");
    const TRun run = Voarc("create x.voa " + c.items);
    EXPECT_EQ(run.Code, 0) << c.items << "\n" << run.Err;
    EXPECT_EQ(Names("x.voa"), c.names) << c.items;
    EXPECT_EQ(run.Err.find("left out of") != std::string::npos, c.told) << c.items << "\n"
                                                                        << run.Err;
  }
}

// An archive written inside a folder being packed is not packed into itself.
TEST_F(VoarcCli, TheArchiveBeingWrittenIsLeftOut) {
  const std::vector<std::string> inD = {"d\\one.txt", "d\\sub\\two.txt"};
  for (int run = 0; run < 2; ++run) {
    const TRun create = Voarc("create d/self.voa d");
    EXPECT_EQ(create.Code, 0) << create.Err;
    EXPECT_EQ(Names("d/self.voa"), inD);
    // The second run finds the first's archive in the folder.
    EXPECT_EQ(create.Err.find("skipped " + Shown("d/self.voa") +
                              ": it is the archive being written") != std::string::npos,
              run == 1)
        << create.Err;
  }
  // sfx writes its setup into a temporary file beside it, inside the folder: neither that nor
  // the last run's setup is packed.
  for (int run = 0; run < 2; ++run) {
    const TRun sfx = Voarc("sfx --stub '" VO_SETUP_STUB
                           "' -o d/setup.bin --installer '" VO_TEST_INSTALLER "' d");
    EXPECT_EQ(sfx.Code, 0) << sfx.Err;
    EXPECT_EQ(Names("d/setup.bin"),
              (std::vector<std::string>{"Installer\\VoInstall.exe", "d\\one.txt", "d\\self.voa",
                                        "d\\sub\\two.txt"}));
  }
  fs::remove(Dir / "d" / "setup.bin");
  // Wine tells no identity of a Linux file as standard output.
  if (UnderWine()) return;
  Put("d/piped.voa", {});
  EXPECT_EQ(Voarc("create - d", "", "d/piped.voa").Code, 0);
  std::vector<std::string> withSelf = inD;
  withSelf.insert(withSelf.begin() + 1, "d\\self.voa");
  EXPECT_EQ(Names("d/piped.voa"), withSelf);
}

// A failed system call names the path as the user gave it (never a temporary file) and the
// system's reason, keeping the "voarc: <Class>: " prefix and the exit code.
TEST_F(VoarcCli, FailuresNameThePathAndTheSystemsReason) {
  ASSERT_EQ(Voarc("create arc.voa a.txt empty").Code, 0);
  fs::create_directories(Dir / "out" / "empty");
  const std::string missing = std::string("voarc: EFOpenError: cannot open missing.voa: ") +
                              (UnderWine() ? "File not found\n" : "No such file or directory\n");
  const std::string folderTarget = "voarc: empty: EFCreateError: cannot create " +
                                   Shown("out/empty") + ": it is a folder, not a file\n";
  const Row rows[] = {
      {"list d", 1, "", "voarc: EFOpenError: cannot open d: it is a folder, not a file\n"},
      {"test missing.voa", 1, "", missing.c_str()},
      {"create nodir/x.voa a.txt", 1, "", "voarc: EFCreateError: cannot create nodir/x.voa: "},
      {"create x.voa 'y=nodir/a.txt'", 1, "", "no such file or folder: nodir/a.txt"},
      {"extract -C out arc.voa", 1, "", folderTarget.c_str()},
      {"extract -C a.txt arc.voa", 1, "", "voarc: EFCreateError: cannot make the folder a.txt: "},
  };
  RunRows(rows);
  EXPECT_FALSE(fs::exists(Dir / "x.voa"));
  if (UnderWine()) return;  // the rest writes to Linux devices
  // A full disk: standard output, or the archive, is a device that takes no byte.
  for (const char* arguments : {"cat arc.voa a.txt", "create - a.txt"}) {
    const TRun run = Voarc(arguments, "", "/dev/full");
    EXPECT_EQ(run.Code, 1) << arguments;
    EXPECT_EQ(run.Err,
              "voarc: EWriteError: cannot write standard output: No space left on device\n")
        << arguments;
  }
  if (::mknod((Dir / "full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0) {
    const Row device[] = {
        {"create full a.txt", 1, "",
         "voarc: EWriteError: cannot write full: No space left on device\n"},
        {"sfx --stub '" VO_SETUP_STUB "' -o full arc.voa", 1, "",
         "voarc: EFCreateError: cannot create full: it is a device or a pipe, not a file\n"},
    };
    RunRows(device);
    EXPECT_EQ(fs::status(Dir / "full").type(), fs::file_type::character);
  }
  // A small file system that fills up, mounted where only the run sees it: the archive, or the
  // extracted file, is named, never the temporary file.
  fs::create_directories(Dir / "small");
  if (std::system("unshare -m true 2> /dev/null") == 0) {
    const std::string inSmall =
        "unshare -m sh -c 'mount -t tmpfs -o size=32k tmpfs small && exec \"$0\" \"$@\"' '" VO_VOARC
        "'";
    ASSERT_EQ(Voarc("create -m non stored.voa noise.bin").Code, 0);
    const std::pair<const char*, const char*> filled[] = {
        {"create small/x.voa noise.bin",
         "voarc: EWriteError: cannot write small/x.voa: No space left on device\n"},
        {"extract -C small stored.voa",
         "voarc: noise.bin: EWriteError: cannot write small/noise.bin: No space left on device\n"},
    };
    for (const auto& [arguments, message] : filled) {
      const TRun run = Run(inSmall, arguments, "", "stdout.txt");
      EXPECT_EQ(run.Code, 1) << arguments;
      EXPECT_EQ(run.Err, message) << arguments;
    }
  }
  // A folder that may not be read, walked by a user that the permissions hold (root passes).
  fs::create_directories(Dir / "locked" / "open");
  fs::create_directories(Dir / "locked" / "shut");
  Put("locked/open/f.txt", Bytes("f"));
  fs::permissions(Dir / "locked" / "shut", fs::perms::none);
  fs::permissions(Dir, fs::perms::others_exec, fs::perm_options::add);
  const std::string user = ::geteuid() == 0
                               ? "setpriv --reuid=65534 --regid=65534 --clear-groups '" VO_VOARC "'"
                               : "'" VO_VOARC "'";
  const TRun shut = Run(user, "create - locked", "", "locked.voa");
  fs::permissions(Dir / "locked" / "shut", fs::perms::owner_all);
  EXPECT_EQ(shut.Code, 1);
  EXPECT_EQ(shut.Err,
            "voarc: EFOpenError: cannot read the folder locked/shut: Permission denied\n");
  // A folder whose walk fails: deeper than a path can name.
  const std::string part(200, 'p');
  ASSERT_TRUE(fs::create_directory(Dir / "deep"));
  int folder = ::open((Dir / "deep").c_str(), O_DIRECTORY | O_RDONLY);
  for (int i = 0; i < 25 && folder >= 0; ++i) {
    const int next = ::mkdirat(folder, part.c_str(), 0700) == 0
                         ? ::openat(folder, part.c_str(), O_DIRECTORY | O_RDONLY)
                         : -1;
    ::close(folder);
    folder = next;
  }
  ASSERT_GE(folder, 0);
  ::close(folder);
  const TRun walk = Voarc("create deep.voa deep");
  EXPECT_EQ(walk.Code, 1);
  EXPECT_EQ(walk.Err.rfind("voarc: EFOpenError: cannot open deep/" + part, 0), 0u) << walk.Err;
  EXPECT_NE(walk.Err.find(": File name too long\n"), std::string::npos) << walk.Err;
  EXPECT_EQ(std::system(("rm -rf '" + (Dir / "deep").string() + "'").c_str()), 0);
}

// "-" reads an archive from standard input and writes one to standard output; a named pipe is
// read as an archive too.
TEST_F(VoarcCli, StandardStreamsAndPipesCarryArchives) {
  const std::string items = " a.txt noise.bin d empty";
  ASSERT_EQ(Voarc("create arc.voa" + items).Code, 0);
  EXPECT_EQ(Voarc("create -" + items, "", "piped.voa").Code, 0);
  EXPECT_TRUE(SameFiles("arc.voa", "piped.voa"));
  // Wine cannot take a Linux folder as standard input, and says so in its own words.
  const std::string folderInput = std::string("voarc: EReadError: cannot read standard input: ") +
                                  (UnderWine() ? "" : "it is a folder, not a file\n");
  const Row rows[] = {
      {"list -", 0, "d\\sub\\two.txt", ""},
      {"test -", 0, "OK           noise.bin", ""},
      {"extract -C out -", 0, "", ""},
      {"list - < d", 1, "", folderInput.c_str()},
      {"raw compress -m lh5 < d", 1, "", folderInput.c_str()},
  };
  RunRows(rows, "arc.voa");
  EXPECT_TRUE(SameFiles("noise.bin", "out/noise.bin"));
  const TRun cat = Voarc("cat - noise.bin", "arc.voa");
  EXPECT_EQ(TBytes(cat.Out.begin(), cat.Out.end()), Get("noise.bin"));
  if (UnderWine()) return;  // Wine's files are no Linux pipes
  ASSERT_EQ(::mkfifo((Dir / "fifo").c_str(), 0600), 0);
  const std::string feed = "cd '" + Dir.string() + "' && (cat arc.voa > fifo &)";
  ASSERT_EQ(std::system(feed.c_str()), 0);
  const TRun list = Voarc("list fifo");
  EXPECT_EQ(list.Code, 0) << list.Err;
  EXPECT_NE(list.Out.find("d\\one.txt"), std::string::npos);
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
  EXPECT_EQ(MethodIdentifier(4), "LH5");
  EXPECT_EQ(MethodIdentifier(7), "#7");
  // The command line's names are the identifiers in lower case, and only those.
  const std::pair<const char*, uint8_t> names[] = {
      {"non", kMethodNon}, {"rle", kMethodRle}, {"lzh", kMethodLzh}, {"lh5", kMethodLh5}};
  for (const auto& [name, method] : names) {
    EXPECT_EQ(voarc::MethodName(method), name);
    EXPECT_EQ(voarc::MethodOfName(name), method);
  }
  EXPECT_THROW(voarc::MethodOfName("LH5"), voarc::TUsageError);
  EXPECT_THROW(voarc::MethodOfName("lh6"), voarc::TUsageError);
}

}  // namespace
}  // namespace vo
