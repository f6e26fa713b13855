// Scratch folders for the tests: a fresh folder, made under a name nobody else holds, removed
// with everything in it when it goes; and a fixture that gives each test one.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/support/bytes.h"

namespace vo::test {

namespace fs = std::filesystem;

class TScratchFolder {
 public:
  explicit TScratchFolder(const std::string& name) {
    std::string pattern = (fs::temp_directory_path() / ("vo-" + name + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch folder");
    Root = pattern;
  }
  ~TScratchFolder() {
    std::error_code ignored;
    fs::remove_all(Root, ignored);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  std::string Path(const std::string& name) const { return (Root / name).string(); }
  // Writes the file name in the folder and returns its path.
  std::string Put(const std::string& name, const TBytes& bytes) const {
    WriteFile(Path(name), bytes);
    return Path(name);
  }
  std::string PutText(const std::string& name, std::string_view text) const {
    return Put(name, Bytes(text));
  }
  TBytes Get(const std::string& name) const { return ReadFile(Path(name)); }

  fs::path Root;
};

// A scratch folder for each test, named after it.
class TTempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
      if (c == '/') c = '_';  // parameterized tests' names have slashes
    Scratch.emplace(name);
    Dir = Scratch->Root;
  }
  void TearDown() override { Scratch.reset(); }

  std::string Path(const std::string& name) const { return Scratch->Path(name); }
  std::string Put(const std::string& name, const TBytes& bytes) const {
    return Scratch->Put(name, bytes);
  }
  std::string PutText(const std::string& name, std::string_view text) const {
    return Scratch->PutText(name, text);
  }
  TBytes Get(const std::string& name) const { return Scratch->Get(name); }

  std::optional<TScratchFolder> Scratch;
  fs::path Dir;
};

}  // namespace vo::test
