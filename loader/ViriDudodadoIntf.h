// The loader's one use of the archive component: expanding an entry into a stream.
#pragma once

#include <cstdint>
#include <string>

#include "codec/engine.h"
#include "core/stream.h"

namespace vo {

// Expands the entries named EntryName of the archive at ArchivePath into Destination with a
// component of default settings, reporting progress to Progress (which may be empty). Returns
// how many entries matched: 0 when the entry is missing. Errors of the expansion propagate.
int32_t ExpandFromArchive(const std::string& ArchivePath, TStream& Destination,
                          const std::string& EntryName, const TShowProgressEvent& Progress);

}  // namespace vo
