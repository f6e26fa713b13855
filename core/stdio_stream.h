// Standard input and output as streams, in binary mode. They cannot seek. Their failures are
// told as a tool tells its user: "cannot write standard output: No space left on device".
#pragma once

#include <cstdio>

#include "core/stream.h"

namespace vo {

// The standard streams as messages name them.
inline constexpr char kStandardInputName[] = "standard input";
inline constexpr char kStandardOutputName[] = "standard output";

class TStdioStream final : public TStream {
 public:
  enum class TChannel { Input, Output };
  // Raises EReadError when standard input is a folder.
  explicit TStdioStream(TChannel channel);

  // A read that the system fails raises EReadError; the end of the input does not.
  std::size_t Read(void* buffer, std::size_t count) override;
  // A write that the system fails raises EWriteError.
  std::size_t Write(const void* buffer, std::size_t count) override;
  int64_t Seek(int64_t, TSeekOrigin) override { return -1; }
  int64_t Size() override { return -1; }
  // Raises EWriteError when buffered output cannot be written.
  void Flush();

 private:
  std::FILE* File;
};

}  // namespace vo
