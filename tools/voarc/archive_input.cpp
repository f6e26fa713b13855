#include "tools/voarc/archive_input.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <vector>

#include "archive/format.h"
#include "core/os.h"
#include "core/stdio_stream.h"
#include "loader/payload.h"
#include "tools/voarc/cli.h"

namespace vo::voarc {

namespace {

namespace fs = std::filesystem;

}  // namespace

TArchiveInput::TArchiveInput(const std::string& argument)
    : Name(argument == kStandardStreamArgument ? kStandardInputName : argument) {
  TFileStream* file = nullptr;
  if (argument == kStandardStreamArgument) {
    if (IsTerminal(stdin))
      throw TUsageError("an archive is no text from a terminal: redirect standard input");
    TStdioStream input(TStdioStream::TChannel::Input);
    file = &CopyOf(input);
  } else if (CannotSeek(argument)) {
    TFileStream input(argument, kOpenReadShared, argument);
    file = &CopyOf(input);
  } else {
    file = &File.emplace(argument, kOpenReadExclusive, argument);
  }
  Archive = file;
  FindPayload(*file);
}

TFileStream& TArchiveInput::CopyOf(TStream& input) {
  std::error_code error;
  const fs::path folder = fs::temp_directory_path(error);
  Copy.emplace(TextOf(folder / "voarc-input"), "a copy of " + Name + " in " + TextOf(folder));
  TFileStream& copy = Copy->Stream();
  std::vector<uint8_t> chunk(kCopyChunk);
  for (std::size_t n; (n = input.Read(chunk.data(), chunk.size())) != 0;)
    copy.WriteBuffer(chunk.data(), n);
  copy.SetPosition(0);
  return copy;
}

void TArchiveInput::FindPayload(TFileStream& file) {
  const int64_t size = file.Size();
  std::array<uint8_t, kArchiveSignature.size()> head{};
  const bool archive =
      size < static_cast<int64_t>(kArchiveHeaderSize) ||
      (file.Read(head.data(), head.size()) == head.size() && head == kArchiveSignature);
  file.SetPosition(0);
  if (archive) return;
  // Not an archive: a setup, if the loader would find a payload in it. Otherwise the reader
  // tells what it is not.
  const int32_t offset = FindPayloadOffset(file);
  file.SetPosition(0);
  if (offset <= 0) return;
  const uint32_t length = ReadPayloadLength(file, offset);
  file.SetPosition(0);
  // A length of 0 has the loader take the whole file, which holds no archive at its start.
  if (length == 0) return;
  const int64_t start = offset + static_cast<int64_t>(kPayloadLengthSize);
  const int64_t present = std::max<int64_t>(size - start, 0);
  if (length > present)
    throw TToolError(Name + ": the payload of this setup is cut short: " + std::to_string(present) +
                     " of its " + std::to_string(length) + " bytes are there");
  Archive = &Window.emplace(file, start, static_cast<int64_t>(length));
}

}  // namespace vo::voarc
