#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "core/exception.h"
#include "core/temp_file.h"
#include "tests/support/scratch.h"

namespace vo {
namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<uint8_t>;

class TempFile : public test::TTempDirTest {
 protected:
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(Dir)) names.push_back(item.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Text(const std::string& name) const {
    const TBytes bytes = Get(name);
    return {bytes.begin(), bytes.end()};
  }
};

TEST_F(TempFile, IsMadeBesideItsTargetUnderAFreshName) {
  const std::string target = Path("archive.voa");
  TTempFile a(target);
  TTempFile b(target);
  EXPECT_NE(a.Path(), b.Path());
  for (const TTempFile* t : {&a, &b}) {
    EXPECT_EQ(fs::path(t->Path()).parent_path(), Dir);
    // The target's name, then a random part: no fixed suffix that could be planted.
    EXPECT_EQ(fs::path(t->Path()).filename().string().rfind("archive.voa.", 0), 0u) << t->Path();
    EXPECT_EQ(fs::path(t->Path()).filename().string().size(),
              std::string("archive.voa.").size() + 16);
  }
  EXPECT_EQ(Listing().size(), 2u);
  // A folder that does not exist takes no file; the failure names the target and the reason.
  try {
    TTempFile missing(Path("no/such/t"), "shown.voa");
    ADD_FAILURE() << "made a file in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message, "cannot create shown.voa: No such file or directory");
  }
}

TEST_F(TempFile, CommitsOntoItsTargetOrIsRemoved) {
  struct Case {
    const char* what;
    std::function<void()> arrange;    // what is at the target before
    std::optional<TCommitMode> mode;  // no commit: the destructor removes the file
    bool committed;
    std::vector<std::string> left;
    const char* reason = "";  // of a refused commit: the system's, or the folder's own
  };
  const auto file = [this] { Put("t", {'o', 'l', 'd'}); };
  const auto folder = [this] { fs::create_directory(Path("t")); };
  const auto link = [this] {
    Put("victim", {'v'});
    fs::create_symlink(Path("victim"), Path("t"));
  };
  const auto nothing = [] {};
  const Case cases[] = {
      {"no commit", file, std::nullopt, false, {"t"}},
      {"nothing there", nothing, TCommitMode::NoReplace, true, {"t"}},
      {"replace a file", file, TCommitMode::Replace, true, {"t"}},
      {"keep a file", file, TCommitMode::NoReplace, false, {"t"}, "File exists"},
      {"never a folder", folder, TCommitMode::Replace, false, {"t"}, "it is a folder, not a file"},
      {"a link is replaced, not followed", link, TCommitMode::Replace, true, {"t", "victim"}},
      {"a link is kept", link, TCommitMode::NoReplace, false, {"t", "victim"}, "File exists"},
  };
  for (const Case& c : cases) {
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    c.arrange();
    bool committed = false;
    {
      TTempFile temp(Path("t"));
      temp.Stream().WriteBuffer("new", 3);
      if (c.mode) {
        try {
          temp.Commit(*c.mode);
          committed = true;
        } catch (const EFCreateError& e) {
          // The target is named, never the temporary file.
          EXPECT_EQ(e.Message, "cannot create " + Path("t") + ": " + c.reason) << c.what;
        }
      }
    }
    EXPECT_EQ(committed, c.committed) << c.what;
    EXPECT_EQ(Listing(), c.left) << c.what;
    if (committed) {
      EXPECT_FALSE(fs::is_symlink(Path("t"))) << c.what;
      EXPECT_EQ(Text("t"), "new") << c.what;
    }
    if (fs::exists(Path("victim"))) {
      EXPECT_EQ(Text("victim"), "v") << c.what;
    }
  }
}

TEST_F(TempFile, CreatingANewFileNeverGoesThroughALink) {
  Put("victim", {'v'});
  fs::create_symlink(Path("victim"), Path("planted"));
  fs::create_symlink(Path("nowhere"), Path("dangling"));
  for (const char* name : {"victim", "planted", "dangling"})
    EXPECT_THROW(TFileStream(Path(name), kCreateNew), EFCreateError) << name;
  EXPECT_EQ(Text("victim"), "v");
  EXPECT_FALSE(fs::exists(Path("nowhere")));
}

TEST_F(TempFile, AnInterruptRemovesEveryUncommittedFileAndEndsAsTheSignalWould) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const auto interrupted = [this, signal] {
      RemoveTempFilesOnInterrupt();
      TTempFile committed(Path("kept"));
      committed.Commit(TCommitMode::Replace);
      TTempFile first(Path("a"));
      TTempFile second(Path("b"));
      first.Stream().WriteBuffer("partial", 7);
      std::raise(signal);
      std::_Exit(0);  // not reached: the signal ends the process
    };
    EXPECT_EXIT(interrupted(), ::testing::KilledBySignal(signal), "") << signal;
    EXPECT_EQ(Listing(), std::vector<std::string>{"kept"}) << signal;
    fs::remove(Path("kept"));
  }
}

}  // namespace
}  // namespace vo
