#include "codec/compress.h"

#include "codec/lh5.h"
#include "codec/lzh.h"

namespace vo {

void CompressWithMethod(TCodecRun& run, uint8_t method) {
  if (method == kMethodLzh) CompressLzh(run);
  if (method == kMethodLh5) CompressLh5(run);
}

}  // namespace vo
