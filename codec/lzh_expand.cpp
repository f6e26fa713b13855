#include <array>
#include <memory>

#include "codec/lzh.h"
#include "codec/lzh_bits.h"

namespace vo {

namespace {

using namespace lzh;

// A symbol's code is shorter than its tree has leaves, and an offset takes 14 bits: with this
// many source bytes buffered (each word taken adds at least 56 bits), decoding them cannot
// reach a refill.
constexpr std::size_t kSymbolReadBound = 64;

// The working storage of one expansion.
struct TLzhExpandState {
  explicit TLzhExpandState(TCodecRun& run) : Bits(run) {}

  TLzhBitReader Bits;
  TLzhModel LzhModel;
  std::array<uint8_t, kWindowSize> LzhWindow;
};

}  // namespace

// Decoded bytes collect in the window and go to the sink in spans, passed on before any read
// that could refill the source (a refill reports progress), so the stream calls keep the order
// they had when each byte went to the sink as it was decoded.
void ExpandLzh(TCodecRun& run, int32_t count) {
  if (count <= 0) return;
  const auto state = std::make_unique<TLzhExpandState>(run);
  state->LzhModel.InitLzhModel();
  auto& window = state->LzhWindow;
  window.fill(kFillByte);
  unsigned r = kStartPosition;
  unsigned passedOn = kStartPosition;
  const auto passOn = [&] {
    if (r > passedOn) run.PutSinkSpan(window.data() + passedOn, r - passedOn);
    passedOn = r;
  };
  const auto put = [&](uint8_t b) {
    window[r++] = b;
    if (r == kWindowSize) {
      passOn();
      r = passedOn = 0;
    }
  };
  int32_t produced = 0;
  while (produced < count) {
    if (run.EndOfInput || run.SourceBuffered() < kSymbolReadBound) passOn();
    const unsigned s = ReadLzhSymbol(state->LzhModel, state->Bits);
    if (s < kLiteralCount) {
      put(static_cast<uint8_t>(s));
      ++produced;
    } else {
      const unsigned start = r - ReadMatchOffset(state->Bits) - 1;
      const unsigned length = MatchLengthOf(s);
      // Byte by byte, so a match may overlap the bytes it produces.
      for (unsigned k = 0; k < length; ++k) put(window[(start + k) & kWindowMask]);
      produced += static_cast<int32_t>(length);
    }
  }
  passOn();
}

}  // namespace vo
