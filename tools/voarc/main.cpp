// voarc: builds, inspects, tests and extracts archives, moves bare codec streams and makes
// self-extracting installers.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "codec/compress.h"
#include "core/exception.h"
#include "core/os.h"
#include "core/temp_file.h"
#include "tools/voarc/cli.h"

namespace {

// The command that a command line names but this tool lacks ("bogus", "raw bogus"), found
// where parsing failed: the first word that is no option, and under a command that takes
// commands of its own, the next one. After an option the command does not know, the next word
// may be its value: CLI11's own words tell that case better.
std::optional<std::string> UnknownCommand(const CLI::App& app, int argc, char** argv) {
  const CLI::App* at = &app;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (!word.empty() && word.front() == '-') {
      const std::string name(word.substr(0, word.find('=')));
      if (at->get_option_no_throw(name) == nullptr) return std::nullopt;
      continue;
    }
    path += (path.empty() ? "" : " ") + std::string(word);
    const auto named =
        at->get_subcommands([&](const CLI::App* command) { return command->get_name() == word; });
    if (named.empty()) return path;
    const auto commands = named.front()->get_subcommands([](const CLI::App*) { return true; });
    if (commands.empty()) return std::nullopt;
    at = named.front();
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vo::voarc;
  vo::PrepareTextOutput();
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
    if (const auto unknown = UnknownCommand(app, argc, argv)) {
      Note("unknown command '" + *unknown + "'");
    } else {
      Note(e.what());
    }
    return kExitUsage;
  } catch (const TExit& e) {
    return e.Code;
  } catch (const TUsageError& e) {
    Note(e.what());
    return kExitUsage;
  } catch (const TToolError& e) {
    Note(e.what());
    return kExitDataError;
  } catch (const vo::Exception& e) {
    Note(std::string(e.ClassName()) + ": " + e.what());
    return kExitDataError;
  } catch (const std::exception& e) {
    Note(e.what());
    return kExitDataError;
  }
}
