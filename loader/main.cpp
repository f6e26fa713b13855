// The program entries: Setup.exe starts at WinMain with no console; the POSIX setup at main.
// Neither reads its own arguments.
#include "loader/ViriDudodadoIntf.h"
#include "loader/platform.h"
#include "loader/setup.h"

namespace {

int RunProgram() {
  return vo::RunSetup(
      vo::SystemPlatform(),
      [](const std::string& ArchivePath, vo::TStream& Destination, const std::string& EntryName) {
        return vo::ExpandFromArchive(ArchivePath, Destination, EntryName, {});
      });
}

}  // namespace

#ifdef _WIN32
// The entry the runtime calls in a program without a console; the handles and the command
// line are of no use here, so they are taken as untyped values.
extern "C" int __stdcall WinMain(void*, void*, char*, int) {
  return RunProgram();
}
#else
int main() {
  return RunProgram();
}
#endif
