// The compress direction of the engine's methods, a library of its own (vo_codec_compress):
// the engine reaches the compressors only through the registration below, so a program that
// only expands (the loader) neither registers nor links them.
#pragma once

namespace vo {

// Registers the LZH and LH5 compressors with the engine; a program that compresses calls this
// once, before its first run.
void RegisterCompressors();

}  // namespace vo
