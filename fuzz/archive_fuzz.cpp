// Arbitrary archives read as the loader reads them, and listed and tested as the tool does.
// The first input byte picks the key (none, or one of two) and whether the custom handlers
// are set; the rest is the archive. Entries named "a" are expanded.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "archive/component.h"
#include "archive/inspect.h"
#include "core/exception.h"
#include "core/memory_stream.h"

namespace {

constexpr int32_t kKeys[] = {0, 0x5A3C1F77, -1};
// The LZH and LH5 expanders produce ExpandedSize bytes whatever the input, up to 2 GB: output
// beyond this is refused so that one input cannot run for minutes.
constexpr int64_t kOutputCap = 1 << 16;

// Counts what it accepts and refuses everything beyond the cap, which raises EWriteError.
class TCappedSink final : public vo::TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void*, std::size_t count) override {
    const auto n = static_cast<std::size_t>(
        std::min<int64_t>(static_cast<int64_t>(count), kOutputCap - Count));
    Count += static_cast<int64_t>(n);
    return n;
  }
  int64_t Seek(int64_t, vo::TSeekOrigin) override { return Count; }
  int64_t Count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  vo::TVoViriDudodado component;
  component.Key = kKeys[choice % 3];
  if (choice & 0x10) {
    component.OnExpand = [](vo::TStream& dest, vo::TStream& source, int32_t sourceSize, int32_t,
                            const std::string&, int32_t& checksum) {
      uint8_t chunk[64];
      const auto want = static_cast<std::size_t>(std::clamp<int32_t>(sourceSize, 0, 64));
      const std::size_t n = source.Read(chunk, want);
      dest.WriteBuffer(chunk, n);
      checksum = static_cast<int32_t>(n);
    };
  }
  if (choice & 0x20) component.OnRecognize = [](const std::string&, bool& ok) { ok = true; };
  const std::vector<uint8_t> archive(data + 1, data + size);
  try {
    vo::TMemoryStream stream(archive);
    TCappedSink dest;
    component.ExpandStream(stream, dest, "a");
  } catch (const vo::Exception&) {
  }
  try {
    vo::TMemoryStream stream(archive);
    const vo::TArchiveListing listing = vo::ListArchive(component, stream);
    const bool small =
        std::all_of(listing.Entries.begin(), listing.Entries.end(),
                    [](const vo::TListedEntry& e) { return e.Header.ExpandedSize <= kOutputCap; });
    stream.SetPosition(0);
    if (small) vo::TestArchive(component, stream);
  } catch (const vo::Exception&) {
  }
  return 0;
}
