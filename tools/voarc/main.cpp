// voarc: builds, inspects, tests and extracts archives, moves bare codec streams and makes
// self-extracting installers.
#include <cstdio>
#include <string>

#include "codec/compress.h"
#include "core/exception.h"
#include "core/temp_file.h"
#include "tools/voarc/cli.h"

namespace {

// Messages may carry names and paths from an archive or the command line: never raw.
void Say(const std::string& text) {
  std::fprintf(stderr, "voarc: %s\n", vo::voarc::TerminalText(text).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vo::voarc;
  // An interrupted create, extract or sfx leaves none of its temporary files behind.
  vo::RemoveTempFilesOnInterrupt();
  vo::RegisterCompressors();
  CLI::App app("voarc: build, inspect, test and extract installer archives; make Setup.exe",
               "voarc");
  app.require_subcommand(1);
  // Options start with '-' everywhere: a path such as /srv/app.exe is no option on Windows.
  app.allow_windows_style_options(false);
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
    Say(e.what());
    return kExitUsage;
  } catch (const TExit& e) {
    return e.Code;
  } catch (const TUsageError& e) {
    Say(e.what());
    return kExitUsage;
  } catch (const TToolError& e) {
    Say(e.what());
    return kExitDataError;
  } catch (const vo::Exception& e) {
    Say(std::string(e.ClassName()) + ": " + e.what());
    return kExitDataError;
  } catch (const std::exception& e) {
    Say(e.what());
    return kExitDataError;
  }
}
