// Standard input and output as streams, in binary mode. They cannot seek.
#pragma once

#include <cstdio>

#include "core/stream.h"

namespace vo {

class TStdioStream final : public TStream {
 public:
  enum class TChannel { Input, Output };
  explicit TStdioStream(TChannel channel);

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  int64_t Seek(int64_t, TSeekOrigin) override { return -1; }
  int64_t Size() override { return -1; }
  // Raises EWriteError when buffered output cannot be written.
  void Flush();

 private:
  std::FILE* File;
};

}  // namespace vo
