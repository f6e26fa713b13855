#include "loader/setup.h"

#include <optional>
#include <vector>

#include "core/file_stream.h"
#include "loader/launch.h"
#include "loader/payload.h"

namespace vo {

namespace {

// The text of a folder result up to its first zero byte, ending in exactly one delimiter
// (a root folder keeps its own).
std::string AsFolder(const TPlatform& platform, std::string text) {
  if (const std::size_t zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
  if (text.empty() || text.back() != platform.PathDelimiter()) text += platform.PathDelimiter();
  return text;
}

std::string FileNamePart(const TPlatform& platform, const std::string& path) {
  return path.substr(FolderPart(platform, path).size());
}

void ExpandInstaller(const std::string& TempArchivePath, TStream& destination,
                     const TExpandOperation& expand) {
  if (expand(TempArchivePath, destination, kInstallerEntryName) == 0) {
    throw EEntryMissing(std::string(kMsgEntryMissing) + kInstallerEntryName);
  }
}

// The files a run has made. A run that fails removes them before it reports: a partly copied
// archive or a partly expanded installer is of use to nobody. A run that reaches the
// installer's launch keeps them, for the installer uses both.
class TMadeFiles {
 public:
  explicit TMadeFiles(TPlatform& platform) : Platform(platform) {}
  ~TMadeFiles() {
    for (const std::string& path : Paths) Platform.RemoveFile(path);
  }
  TMadeFiles(const TMadeFiles&) = delete;
  TMadeFiles& operator=(const TMadeFiles&) = delete;

  void Add(const std::string& path) {
    if (!path.empty()) Paths.push_back(path);
  }
  void Keep() { Paths.clear(); }

 private:
  TPlatform& Platform;
  std::vector<std::string> Paths;
};

// Expands the installer into InstallerPath. Returns false only when that file could not be
// created or closed, the one failure that lets the run try the temporary folder instead;
// errors of the expansion itself leave the run.
bool ExpandIntoFolder(const std::string& InstallerPath, const std::string& TempArchivePath,
                      const TExpandOperation& expand, TMadeFiles& made) {
  std::optional<TFileStream> installer;
  try {
    installer.emplace(InstallerPath, kCreate);
  } catch (const EFCreateError&) {
    return false;
  }
  made.Add(InstallerPath);
  ExpandInstaller(TempArchivePath, *installer, expand);
  try {
    installer->Close();
  } catch (const EWriteError&) {
    return false;
  }
  return true;
}

int RunMainSequence(TPlatform& platform, const TExpandOperation& expand) {
  if (!RichEditPresent(platform)) {
    platform.ShowMessage(kMsgRichEditMissing, kCaptionError, kMbOk | kMbIconStop);
    return 1;  // the message has just said that installation cannot continue
  }
  const std::string LoaderPath = platform.ModuleFileName();
  const int32_t PayloadOffset = FindPayloadOffset(LoaderPath);
  if (PayloadOffset <= 0) {
    platform.Beep(kBeepDefault);
    return 0;
  }
  const std::string TempArchivePath = MakeTempFileName(platform);
  TMadeFiles made(platform);
  made.Add(TempArchivePath);
  std::string InstallerPath = WindowsFolder(platform) + kInstallerFileName;
  // Both files are closed when it returns: the archive component opens the copy exclusively.
  CopyPayload(LoaderPath, PayloadOffset, TempArchivePath);
  if (!ExpandIntoFolder(InstallerPath, TempArchivePath, expand, made)) {
    InstallerPath = FolderPart(platform, TempArchivePath) + kInstallerFileName;
    TFileStream installer(InstallerPath, kCreate);
    made.Add(InstallerPath);
    ExpandInstaller(TempArchivePath, installer, expand);
    installer.Close();
  }
  made.Keep();
  // The installer's own exit code is its business; only a failed start fails the run.
  const int32_t code =
      LaunchAndWait(platform, InstallerPath, InstallerParameters(LoaderPath, TempArchivePath),
                    kSwShowNormal, true);
  return code == -1 ? 1 : 0;
}

}  // namespace

std::string WindowsFolder(TPlatform& platform) {
  return AsFolder(platform, platform.WindowsDirectory());
}

std::string SystemFolder(TPlatform& platform) {
  return AsFolder(platform, platform.SystemDirectory());
}

bool RichEditPresent(TPlatform& platform) {
  return platform.FileExists(WindowsFolder(platform) + kRichEditLibrary) ||
         platform.FileExists(SystemFolder(platform) + kRichEditLibrary);
}

std::string MakeTempFileName(TPlatform& platform) {
  return platform.TempFileName(platform.TempPath(), kTempFilePrefix, 0);
}

std::string FolderPart(const TPlatform& platform, const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !platform.EndsFolderPart(path[end - 1])) --end;
  return path.substr(0, end);
}

std::string InstallerParameters(const std::string& LoaderPath, const std::string& TempArchivePath) {
  return std::string("\"") + kArgumentSource + LoaderPath + "\" \"" + kArgumentData +
         TempArchivePath + "\"";
}

std::string ErrorReportText(const std::string& kind, const std::string& module, uint32_t address,
                            const std::string& message) {
  // Eight hexadecimal digits, formatted by hand: the printf family would bring its whole
  // formatting engine, floating point included, into Setup.exe.
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  char where[9] = {};
  for (int i = 7; i >= 0; --i, address >>= 4) where[i] = kHexDigits[address & 15];
  const bool addStop = !message.empty() && message.back() != '.';
  return "Exception " + kind + " in module " + module + " at " + where + ".\n" + message +
         (addStop ? "." : "");
}

int UnhandledErrorReport(TPlatform& platform, const std::string& kind, const std::string& message) {
  // A thrown error carries no code address here, so the report shows 0.
  platform.ShowMessage(
      ErrorReportText(kind, FileNamePart(platform, platform.ModuleFileName()), 0, message),
      kCaptionApplicationError, kMbOk | kMbIconStop | kMbTaskModal);
  return 1;
}

int RunSetup(TPlatform& platform, const TExpandOperation& expand) {
  try {
    return RunMainSequence(platform, expand);
  } catch (const Exception& error) {
    return UnhandledErrorReport(platform, error.ClassName(), error.Message);
  } catch (const std::exception& error) {
    return UnhandledErrorReport(platform, "Exception", error.what());
  }
}

}  // namespace vo
