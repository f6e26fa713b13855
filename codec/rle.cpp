#include "codec/rle.h"

namespace vo {

namespace {
constexpr uint8_t kRleEscape = 0x94;
}

void ExpandRle(TCodecRun& run) {
  for (;;) {
    const uint8_t a = run.GetSourceByte();
    if (run.EndOfInput) return;
    if (a != kRleEscape) {
      run.PutSinkByte(a);
    } else {
      // The count byte is taken untested: a stream cut right after the escape reads it as 0.
      run.RleCount = run.GetSourceByte();
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
