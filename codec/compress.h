// The compress direction of the engine's methods. RunCodec reaches the compressors only through
// this function, in a file of its own, so that a program that only expands can link its own
// refusing version instead and leave the compressors out (the loader does).
#pragma once

#include <cstdint>

#include "codec/engine.h"

namespace vo {

// Compresses the run's whole source with method, LZH or LH5; any other method passes nothing.
void CompressWithMethod(TCodecRun& run, uint8_t method);

}  // namespace vo
