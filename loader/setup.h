// The loader's whole run: the library check, the payload, the installer's expansion with its
// one fallback, its launch and the wait, and the report of an error that ends the run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/exception.h"
#include "core/stream.h"
#include "loader/platform.h"

namespace vo {

inline constexpr char kRichEditLibrary[] = "RichEd32.dll";
inline constexpr char kMsgRichEditMissing[] =
    "The DLL 'RichEd32.dll' cannot be located on this system. Installation cannot continue.";
inline constexpr char kCaptionError[] = "Error";
inline constexpr char kCaptionApplicationError[] = "Application Error";
inline constexpr char kInstallerFileName[] = "VoInstall.exe";
inline constexpr char kInstallerEntryName[] = "Installer\\VoInstall.exe";
inline constexpr char kArgumentSource[] = "/SOURCE=";
inline constexpr char kArgumentData[] = "/DATA=";
inline constexpr char kTempFilePrefix[] = "VoI";
inline constexpr char kMsgEntryMissing[] = "Archive entry not found: ";

// The archive held no installer entry: starting an empty file would report success for an
// installation that never ran.
using EEntryMissing = ENamed<"EEntryMissing">;

// Expands the entries named EntryName of the archive at ArchivePath into Destination and
// returns how many matched; the program passes ExpandFromArchive without progress.
using TExpandOperation = std::function<int32_t(const std::string& ArchivePath, TStream& Destination,
                                               const std::string& EntryName)>;

std::string WindowsFolder(TPlatform& platform);
std::string SystemFolder(TPlatform& platform);
bool RichEditPresent(TPlatform& platform);
std::string MakeTempFileName(TPlatform& platform);
// The folder part of path, up to and including its last delimiter; empty when it has none.
std::string FolderPart(const TPlatform& platform, const std::string& path);
// "/SOURCE=<LoaderPath>" "/DATA=<TempArchivePath>", each argument quoted whole.
std::string InstallerParameters(const std::string& LoaderPath, const std::string& TempArchivePath);

// The text of the error report: "Exception <kind> in module <file> at <address>.\n<message>",
// with a full stop added to a message that lacks one.
std::string ErrorReportText(const std::string& kind, const std::string& module, uint32_t address,
                            const std::string& message);
// Shows the error report for an error that ended the run and returns the exit code 1.
int UnhandledErrorReport(TPlatform& platform, const std::string& kind, const std::string& message);

// The run from start to end; returns the process's exit code: 0 after every orderly end, 1
// after the missing-library message, after an error report or when the installer could not
// be started. A run that fails once the temporary archive is made removes that archive and
// any installer file it made before it reports.
int RunSetup(TPlatform& platform, const TExpandOperation& expand);

}  // namespace vo
