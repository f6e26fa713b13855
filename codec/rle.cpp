#include "codec/rle.h"

namespace vo {

namespace {
constexpr uint8_t kRleEscape = 0x94;
}

// The stream ends where the input does; a cancel from the progress handler is no such end.
void ExpandRle(TCodecRun& run) {
  for (;;) {
    const uint8_t a = run.GetSourceByte();
    if (run.EndOfInput) {
      if (run.InputCancelled) run.RaiseInputEnded();
      return;
    }
    if (a != kRleEscape) {
      run.PutSinkByte(a);
    } else {
      // An escape without its count byte is a stream cut short.
      run.RleCount = run.GetSourceByte();
      if (run.EndOfInput) run.RaiseInputEnded();
      if (run.RleCount == 0) {
        run.PutSinkByte(kRleEscape);
      } else {
        for (--run.RleCount; run.RleCount > 0; --run.RleCount) run.PutSinkByte(run.RlePrevious);
      }
    }
    run.RlePrevious = a;
  }
}

}  // namespace vo
