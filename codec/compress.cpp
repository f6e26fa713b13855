#include "codec/compress.h"

#include "codec/engine.h"
#include "codec/lh5.h"
#include "codec/lzh.h"

namespace vo {

void RegisterCompressors() {
  RegisterCompressor(kMethodLzh, CompressLzh);
  RegisterCompressor(kMethodLh5, CompressLh5);
}

}  // namespace vo
