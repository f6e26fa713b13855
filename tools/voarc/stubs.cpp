#include "tools/voarc/stubs.h"

#include <array>
#include <filesystem>
#include <vector>

#include "loader/platform.h"
#include "tools/voarc/cli.h"

namespace vo::voarc {

namespace fs = std::filesystem;

namespace {

struct TStubKind {
  const char* Name;    // as --stub takes it
  const char* File;    // the program's file name
  const char* Preset;  // the build folder that makes it
  bool BesideTheTool;  // may lie beside voarc, as in a Windows install
};

constexpr std::array<TStubKind, 3> kStubKinds = {{
    {"win32", "Setup.exe", "win32", true},
    {"win64", "Setup.exe", "win64", false},
    {"posix", "setup", "default", false},
}};

// Where a stub of KIND may lie, in the order tried, for a voarc in the folder SELF.
std::vector<fs::path> Candidates(const TStubKind& kind, const fs::path& self) {
  // An install prefix: PREFIX/bin/voarc and PREFIX/share/voinstall/KIND/FILE. Taken from the
  // running program, so that a moved prefix still finds its stubs.
  std::vector<fs::path> candidates = {self / ".." / "share" / "voinstall" / kind.Name / kind.File};
  if (kind.BesideTheTool) candidates.push_back(self / kind.File);
  // A build tree: build/PRESET/tools/voarc/voarc beside build/PRESET/loader/FILE.
  candidates.push_back(self / ".." / ".." / ".." / kind.Preset / "loader" / kind.File);
  return candidates;
}

}  // namespace

std::string LocateStub(const std::string& choice) {
  const std::string name = choice.empty() ? "win32" : choice;
  for (const TStubKind& kind : kStubKinds) {
    if (name != kind.Name) continue;
    const fs::path self = fs::path(SystemPlatform().ModuleFileName()).parent_path();
    for (const fs::path& candidate : Candidates(kind, self)) {
      std::error_code error;
      if (fs::is_regular_file(candidate, error)) return candidate.lexically_normal().string();
    }
    throw TUsageError(std::string("no ") + kind.Name + " loader stub (" + kind.File +
                      ") found where voarc is installed or built; give its path with --stub");
  }
  return choice;
}

}  // namespace vo::voarc
