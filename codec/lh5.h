// LH5: the block-Huffman method with an 8192-byte window of the LHA family (-lh5-). Both
// directions work through the engine's source and sink of the run they are given.
#pragma once

#include <cstdint>

#include "codec/engine.h"

namespace vo {

// Produces count bytes from the run's compressed input, and never more; raises
// ELZHBadDecodeTable on a damaged block header, and the run's input-ended error when the stream
// ends before count.
void ExpandLh5(TCodecRun& run, int32_t count);

// Compresses the run's whole input into an LH5 stream.
void CompressLh5(TCodecRun& run);

}  // namespace vo
