// Arbitrary archives read as the loader reads them, and listed and tested as the tool does.
// The first input byte picks the key (none, or one of two) and whether a custom handler is
// set; the rest is the archive. Entries named "a" are expanded.
#include <cstdint>
#include <vector>

#include "archive/component.h"
#include "archive/inspect.h"
#include "core/exception.h"
#include "core/memory_stream.h"

namespace {
constexpr int32_t kKeys[] = {0, 0x5A3C1F77, -1};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  vo::TVoViriDudodado component;
  component.Key = kKeys[choice % 3];
  if (choice & 0x10) {
    component.OnExpand = [](vo::TStream& dest, vo::TStream& source, int32_t sourceSize, int32_t,
                            const std::string&, int32_t& checksum) {
      uint8_t chunk[64];
      const auto n = source.Read(chunk, std::min<std::size_t>(sizeof chunk,
                                                             sourceSize > 0 ? sourceSize : 0));
      dest.WriteBuffer(chunk, n);
      checksum = static_cast<int32_t>(n);
    };
  }
  if (choice & 0x20) component.OnRecognize = [](const std::string&, bool& ok) { ok = true; };
  const std::vector<uint8_t> archive(data + 1, data + size);
  try {
    vo::TMemoryStream stream(archive);
    vo::TCountingStream dest;
    component.ExpandStream(stream, dest, "a");
  } catch (const vo::Exception&) {
  }
  try {
    vo::TMemoryStream stream(archive);
    vo::TestArchive(component, stream);
  } catch (const vo::Exception&) {
  }
  return 0;
}
