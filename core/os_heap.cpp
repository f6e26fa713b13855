#include "core/os.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vo {

namespace {
constexpr int kLargeBlock = 1 << 20;
}  // namespace

void ReturnLargeBlocksWhenFreed() {
#if defined(__GLIBC__)
  // A fixed threshold also stops the allocator from raising it each time such a block is freed,
  // after which blocks of that size would come from, and go back to, the thread's own heap.
  mallopt(M_MMAP_THRESHOLD, kLargeBlock);
#endif
}

}  // namespace vo
