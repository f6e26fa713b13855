// A plain LZH compressor for the tests: the stream of CompressLzh, written the slow and obvious
// way (separate tree arrays, byte-by-byte compares, one 16-bit bit buffer). Which of several
// equally long matches gets coded depends on the exact shape of the match trees, so comparing
// the fast compressor's bytes with these catches any change in how its trees behave.
#pragma once

#include <cstdint>
#include <vector>

namespace vo::test {

// The bytes that CompressLzh hands to the sink for this input.
//
// With checkEvery > 0 the compressor also checks itself before every checkEvery-th coding step
// (the first one included) and raises std::logic_error on a fault: every tree is a search tree
// of its strings with consistent links, every cached prefix length is exact, every string lies
// in the tree of its first three bytes and within the window's reach, and the match about to be
// coded is as long as the longest one any string in the trees offers.
std::vector<uint8_t> ReferenceCompressLzh(const std::vector<uint8_t>& input,
                                          unsigned checkEvery = 0);

}  // namespace vo::test
