#include "codec/item_pipe.h"

namespace vo {

namespace {
// Unwinds the coder's thread when the run ends early; never leaves it.
struct TPipeStopped {};
}  // namespace

TItemPipe::TItemPipe(std::function<void(TItemPipe&)> code)
    : Coder([this, code = std::move(code)] { RunCoder(code); }) {}

TItemPipe::~TItemPipe() {
  if (!Coder.joinable()) return;
  {
    std::lock_guard lock(Mutex);
    Stopped = true;
  }
  Changed.notify_all();
  Coder.join();
}

void TItemPipe::RunCoder(const std::function<void(TItemPipe&)>& code) {
  try {
    code(*this);
  } catch (const TPipeStopped&) {
    // The parse failed or gave up: what it raised is the run's error.
  } catch (...) {
    {
      std::lock_guard lock(Mutex);
      CoderError = std::current_exception();
    }
    Changed.notify_all();
  }
}

void TItemPipe::Publish(bool last) {
  std::unique_lock lock(Mutex);
  TChunk& filled = Chunks[Writing % kChunkCount];
  Sizes[Writing % kChunkCount] = static_cast<std::size_t>(WriteAt - filled.data());
  ++Published;
  Last = last;
  Changed.notify_all();
  if (last) return;
  // The next chunk to fill must have been given back.
  Changed.wait(lock, [&] { return CoderError || Published - Released < kChunkCount; });
  if (CoderError) std::rethrow_exception(CoderError);
  ++Writing;
  WriteAt = Chunks[Writing % kChunkCount].data();
  WriteEnd = WriteAt + kChunkItems;
}

void TItemPipe::Finish() {
  Publish(true);
  Coder.join();
  if (CoderError) std::rethrow_exception(CoderError);
}

bool TItemPipe::NextChunk() {
  std::unique_lock lock(Mutex);
  for (;;) {
    if (Started) {
      ++Released;
      ++Reading;
      Changed.notify_all();
    }
    Changed.wait(lock, [&] { return Stopped || Published > Reading || Last; });
    if (Stopped) throw TPipeStopped();
    if (Published == Reading) {  // the parse has finished and every item is taken
      Started = false;
      return false;
    }
    Started = true;
    ReadPos = 0;
    ReadEnd = Sizes[Reading % kChunkCount];
    if (ReadEnd != 0) return true;  // else an empty last chunk
  }
}

}  // namespace vo
