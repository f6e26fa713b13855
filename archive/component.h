// TVoViriDudodado: reads archives, finds entries by name, checks key locks and checksums and
// hands each entry to the right expander.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>

#include "archive/format.h"
#include "codec/engine.h"
#include "core/stream.h"

namespace vo {

// The five method identifiers, indexed by MethodIndex: the one table of method names, which
// the tools also show and, in lower case, take on their command lines.
inline constexpr const char* CompressIDs[] = {"NON", "RLE", "LZH", "CUS", "LH5"};
static_assert(std::string_view(CompressIDs[kMethodNon]) == "NON" &&
              std::string_view(CompressIDs[kMethodRle]) == "RLE" &&
              std::string_view(CompressIDs[kMethodLzh]) == "LZH" &&
              std::string_view(CompressIDs[kMethodCus]) == "CUS" &&
              std::string_view(CompressIDs[kMethodLh5]) == "LH5");

// "LH5" for a MethodIndex that has an identifier, "#7" for one that has none.
inline std::string MethodIdentifier(uint8_t method) {
  if (method < std::size(CompressIDs)) return CompressIDs[method];
  std::string text(1, '#');
  return text += std::to_string(method);
}

enum class TCProcessMode : uint8_t { Compress, Expand };

// Events: callables without a sender; "var" parameters are references the caller reads back.
using TCompressEvent = std::function<void(TStream& dest, TStream& source, std::string& CompressID,
                                          int32_t& Outputsize, int32_t& checksum)>;
using TExpandEvent =
    std::function<void(TStream& dest, TStream& source, int32_t Sourcesize, int32_t Destsize,
                       const std::string& CompressID, int32_t& checksum)>;
using TRecognizeEvent = std::function<void(const std::string& CompressID, bool& recognized)>;
using TFilenameCheckEvent = std::function<void(std::string& filepath, TCProcessMode mode)>;
// TShowProgressEvent comes with the codec engine.

class TVoViriDudodado {
 public:
  // Expands every entry named EntryName (ASCII case ignored) into Dest. Returns how many
  // entries matched; 0 means nothing was written.
  int32_t ExpandFile(const std::string& ArchiveFileName, TStream& Dest,
                     const std::string& EntryName);
  // The scan of ExpandFile over an archive that starts at the stream's position.
  int32_t ExpandStream(TStream& Archive, TStream& Dest, const std::string& EntryName);
  // Reads and checks the archive header, MethodID included (LookupMethod, with OnRecognize).
  void ReadArchiveHeader(TStream& Archive, TArchiveHeader& Header, std::string& MethodID);
  void ExpandEntry(TStream& Dest, TStream& Source, int32_t CompressedSize, int32_t ExpandedSize,
                   uint32_t StoredChecksum, uint8_t Method, const std::string& MethodID,
                   int32_t LockFlag);
  int32_t LookupMethod(const std::string& identifier);
  void SetTargetPath(const std::string& Value);

  // The settings a codec run takes from this component.
  TCodecSettings CodecSettings() const {
    return {OnShowProgress, Key, CompressReserve, YieldProcessor};
  }

  int32_t ElapsedTicks = 0;  // milliseconds spent in the last ExpandEntry
  TCompressEvent OnCompress;
  TExpandEvent OnExpand;
  TRecognizeEvent OnRecognize;
  TFilenameCheckEvent OnCheckFile;
  TShowProgressEvent OnShowProgress;
  std::string TargetPath;
  bool MakeDirectories = false;
  int32_t Key = 0;
  bool ExceptionOnFileError = false;
  bool CheckSpaceBeforeExpand = false;
  int32_t CompressReserve = 0;
  // Passed to the codec runs: whether they give up the processor at each buffer.
  bool YieldProcessor = false;
};

}  // namespace vo
