#include "archive/component.h"

#include <chrono>
#include <iterator>

#include "archive/entry_name.h"
#include "archive/scan.h"

#include "core/exception.h"
#include "core/file_stream.h"
#include "core/messages.h"

namespace vo {

namespace {

constexpr char kQuote = '"';
constexpr char kFolderSeparator = '\\';

int64_t NowMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void RaiseInvalidKey() {
  throw EInvalidKey(kMsgInvalidKey);
}

}  // namespace

int32_t TVoViriDudodado::ExpandFile(const std::string& ArchiveFileName, TStream& Dest,
                                    const std::string& EntryName) {
  TFileStream archive(ArchiveFileName, kOpenReadExclusive);
  return ExpandStream(archive, Dest, EntryName);
}

void TVoViriDudodado::ReadArchiveHeader(TStream& Archive, TArchiveHeader& Header,
                                        std::string& MethodID) {
  if (vo::ReadArchiveHeader(Archive, Header, MethodID, Key)) LookupMethod(MethodID);
}

int32_t TVoViriDudodado::ExpandStream(TStream& Archive, TStream& Dest,
                                      const std::string& EntryName) {
  TArchiveHeader header;
  std::string methodID;
  ReadArchiveHeader(Archive, header, methodID);
  int32_t matched = 0;
  TEntryScan scan(Archive, header.TotalExpandedSize);
  TScannedEntry entry;
  while (scan.Next(entry) && entry.Reachable) {
    if (!SameNameIgnoringAsciiCase(entry.Name, EntryName)) continue;
    ++matched;
    const TEntryHeader& h = entry.Header;
    ExpandEntry(Dest, Archive, h.CompressedSize, h.ExpandedSize, h.Checksum, h.Method, methodID,
                h.LockFlag);
  }
  return matched;
}

void TVoViriDudodado::ExpandEntry(TStream& Dest, TStream& Source, int32_t CompressedSize,
                                  int32_t ExpandedSize, uint32_t StoredChecksum, uint8_t Method,
                                  const std::string& MethodID, int32_t LockFlag) {
  if (Method != kMethodNon && LockFlag > 0 && Key == 0) RaiseInvalidKey();
  uint32_t checksum = 0;
  const int64_t started = NowMilliseconds();
  switch (Method) {
    case kMethodNon:
      if (CompressedSize > 0) Dest.CopyFrom(Source, CompressedSize);
      break;
    case kMethodRle:
    case kMethodLzh:
    case kMethodLh5:
      try {
        RunCodec(CodecSettings(), Dest, Source, CompressedSize, ExpandedSize, Method, checksum,
                 TCodecMode::Expand, LockFlag == kLockScrambled);
      } catch (const ELZHBadDecodeTable&) {
        // Tables that fall apart under a key mean the key is wrong, not the archive; so does a
        // stream that asks for more input than it has.
        if (LockFlag > 0) RaiseInvalidKey();
        throw;
      } catch (const EReadError&) {
        if (LockFlag > 0) RaiseInvalidKey();
        throw;
      }
      break;
    case kMethodCus:
      if (OnExpand) {
        auto handlerSum = static_cast<int32_t>(checksum);
        OnExpand(Dest, Source, CompressedSize, ExpandedSize, MethodID, handlerSum);
        checksum = static_cast<uint32_t>(handlerSum);
      }
      break;
    default:  // no method: nothing is written and the checksum stays 0
      break;
  }
  ElapsedTicks = static_cast<int32_t>(NowMilliseconds() - started);
  if (Method == kMethodNon || checksum == StoredChecksum) return;
  if (LockFlag > 0) {
    if (static_cast<uint32_t>(Key) + checksum == StoredChecksum) return;
    RaiseInvalidKey();
  }
  throw EBadChecksum(kMsgBadChecksum);
}

int32_t TVoViriDudodado::LookupMethod(const std::string& identifier) {
  for (int32_t index = 0; index < static_cast<int32_t>(std::size(CompressIDs)); ++index)
    if (identifier == CompressIDs[index]) return index;
  if (OnRecognize) {
    bool recognized = false;
    OnRecognize(identifier, recognized);
    if (recognized) return kMethodCus;
  }
  throw EUnrecognizedCompressionMethod(kMsgUnrecognizedMethod + (kQuote + identifier + kQuote) +
                                       kMsgUnrecognizedMethodTail);
}

void TVoViriDudodado::SetTargetPath(const std::string& Value) {
  TargetPath = Value;
  if (!Value.empty() && Value.back() != kFolderSeparator) TargetPath += kFolderSeparator;
}

}  // namespace vo
