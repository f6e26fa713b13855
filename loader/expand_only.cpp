// The loader only expands. This refusing compress direction stands in for the engine's own,
// so that the compressors stay out of the program; asked to compress, a run gives up as one
// whose output would not be smaller.
#include "codec/compress.h"
#include "core/exception.h"
#include "core/messages.h"

namespace vo {

void CompressWithMethod(TCodecRun&, uint8_t) {
  throw EUnableToCompress(kMsgCouldNotCompress);
}

}  // namespace vo
