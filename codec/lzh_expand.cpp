#include <array>
#include <memory>

#include "codec/lzh.h"
#include "codec/lzh_bits.h"

namespace vo {

namespace {

using namespace lzh;

// The working storage of one expansion.
struct TLzhExpandState {
  explicit TLzhExpandState(TCodecRun& run) : Bits(run) {}

  TLzhBitReader Bits;
  TLzhModel LzhModel;
  std::array<uint8_t, kWindowSize> LzhWindow;
};

}  // namespace

void ExpandLzh(TCodecRun& run, int32_t count) {
  if (count <= 0) return;
  const auto state = std::make_unique<TLzhExpandState>(run);
  state->LzhModel.InitLzhModel();
  auto& window = state->LzhWindow;
  window.fill(kFillByte);
  unsigned r = kStartPosition;
  int32_t produced = 0;
  while (produced < count) {
    const unsigned s = ReadLzhSymbol(state->LzhModel, state->Bits);
    if (s < kLiteralCount) {
      const auto b = static_cast<uint8_t>(s);
      run.PutSinkByte(b);
      window[r] = b;
      r = (r + 1) & kWindowMask;
      ++produced;
    } else {
      const unsigned start = r - ReadMatchOffset(state->Bits) - 1;
      const unsigned length = MatchLengthOf(s);
      // Byte by byte, so a match may overlap the bytes it produces.
      for (unsigned k = 0; k < length; ++k) {
        const uint8_t x = window[(start + k) & kWindowMask];
        run.PutSinkByte(x);
        window[r] = x;
        r = (r + 1) & kWindowMask;
      }
      produced += static_cast<int32_t>(length);
    }
  }
}

}  // namespace vo
