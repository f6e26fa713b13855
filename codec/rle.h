// RLE expansion: literal bytes, with 0x94 escaping a count of repeats of the previous step.
#pragma once

#include "codec/engine.h"

namespace vo {

void ExpandRle(TCodecRun& run);

}  // namespace vo
