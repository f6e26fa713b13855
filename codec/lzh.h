// LZH: a 4096-byte sliding window with an adaptive Huffman code of literals and match lengths
// and a fixed prefix code of match offsets. The stream has no header and no end marker.
#pragma once

#include <cstdint>

#include "codec/engine.h"

namespace vo {

// Produces count bytes (nothing for a count of 0 or less) from the run's source, and never more:
// a last match that runs past count stops there. A stream that ends before count raises the
// run's input-ended error.
void ExpandLzh(TCodecRun& run, int32_t count);

// Codes every byte of the run's source until EndOfInput; writes nothing for an empty source.
void CompressLzh(TCodecRun& run);

}  // namespace vo
