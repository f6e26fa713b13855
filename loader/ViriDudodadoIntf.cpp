#include "loader/ViriDudodadoIntf.h"

#include "archive/component.h"

namespace vo {

int32_t ExpandFromArchive(const std::string& ArchivePath, TStream& Destination,
                          const std::string& EntryName, const TShowProgressEvent& Progress) {
  // Owned by this call alone and released however the expansion ends.
  TVoViriDudodado component;
  component.OnShowProgress = Progress;
  // The loader runs beside the installer's windows: it lets them have the processor.
  component.YieldProcessor = true;
  return component.ExpandFile(ArchivePath, Destination, EntryName);
}

}  // namespace vo
