// voarc: builds, inspects, tests and extracts archives, moves bare codec streams and makes
// self-extracting installers.
#include <cstdio>

#include "core/exception.h"
#include "tools/voarc/cli.h"

int main(int argc, char** argv) {
  using namespace vo::voarc;
  CLI::App app("voarc: build, inspect, test and extract installer archives; make Setup.exe",
               "voarc");
  app.require_subcommand(1);
  app.fallthrough();  // -q may also follow the command
  TGlobalOptions global;
  app.add_flag("-q,--quiet", global.Quiet, "no progress display");
  app.set_version_flag("--version", std::string("voarc (VoInstall) ") + VO_VERSION);
  RegisterArchiveCommands(app, global);
  RegisterRawCommands(app, global);
  RegisterSfxCommands(app, global);
  try {
    app.parse(argc, argv);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "voarc: %s\n", e.what());
    return kExitUsage;
  } catch (const TExit& e) {
    return e.Code;
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "voarc: %s\n", e.what());
    return kExitUsage;
  } catch (const TToolError& e) {
    std::fprintf(stderr, "voarc: %s\n", e.what());
    return kExitDataError;
  } catch (const vo::Exception& e) {
    std::fprintf(stderr, "voarc: %s: %s\n", e.ClassName(), e.what());
    return kExitDataError;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "voarc: %s\n", e.what());
    return kExitDataError;
  }
}
