// Seekable byte streams: the one interface through which archives, payloads and codec data move.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vo {

enum class TSeekOrigin { Begin, Current, End };

// Largest chunk that a stream copy holds in memory at once.
inline constexpr std::size_t kCopyChunk = 61440;

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Plain transfers: they may move fewer bytes than asked (0 at the end or on failure) and
  // report how many they moved.
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Returns the new position, or -1 when the stream cannot move there.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Begin); }

  // Transfers that must complete in full, else EReadError / EWriteError.
  void ReadBuffer(void* buffer, std::size_t count);
  void WriteBuffer(const void* buffer, std::size_t count);

  // Copies count bytes from source's position, in chunks of at most kCopyChunk bytes, each
  // read and written in full. A count of 0 copies the whole source from its start.
  int64_t CopyFrom(TStream& source, int64_t count);
};

}  // namespace vo
