// RLE expansion: literal bytes, with 0x94 escaping a count of repeats of the previous step.
#pragma once

#include "codec/engine.h"

namespace vo {

// Expands the run's whole input; raises the run's input-ended error for an escape without its
// count byte, and when the progress handler cancelled.
void ExpandRle(TCodecRun& run);

}  // namespace vo
