// Arbitrary bytes as the loader's own file: the stamp search and the payload copy must end
// with a usable offset or an error of their own, whatever the file holds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/exception.h"
#include "core/file_stream.h"
#include "loader/payload.h"

namespace {
const std::string kScratch = "/tmp/vo-fuzz-payload-" + std::to_string(::getpid());
const std::string kLoader = kScratch + ".exe";
const std::string kArchive = kScratch + ".tmp";

// Removes the two scratch files when the fuzzer ends.
struct TScratchFiles {
  ~TScratchFiles() {
    std::remove(kLoader.c_str());
    std::remove(kArchive.c_str());
  }
} scratchFiles;

void WriteLoader(const uint8_t* data, size_t size) {
  vo::TFileStream loader(kLoader, vo::kCreate);
  loader.WriteBuffer(data, size);
}

// The offset the search finds in the file just written. When that file cannot be opened again,
// the cause lies with the machine at that moment, not with the file's bytes (a smoke run once
// stopped so, and the input did not repeat it), so it is written and searched once more; a
// second refusal is a fault.
int32_t SearchLoader(const uint8_t* data, size_t size) {
  WriteLoader(data, size);
  try {
    return vo::FindPayloadOffset(kLoader);
  } catch (const vo::EFOpenError&) {
    WriteLoader(data, size);
    return vo::FindPayloadOffset(kLoader);
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int32_t offset = SearchLoader(data, size);
  if (offset > 0 && static_cast<size_t>(offset) >= size) __builtin_trap();
  if (offset <= 0) return 0;
  try {
    const uint32_t length = vo::CopyPayload(kLoader, offset, kArchive);
    vo::TFileStream archive(kArchive, vo::kOpenReadShared);
    const int64_t expected = length == 0 ? static_cast<int64_t>(size) : length;
    if (archive.Size() != expected) __builtin_trap();
  } catch (const vo::EReadError&) {
    // A payload shorter than its length.
  }
  return 0;
}
