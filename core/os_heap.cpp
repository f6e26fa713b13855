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
  // Fixing that threshold also fixes the one at which a heap gives its free top back. Smaller
  // blocks, such as a codec run's tables, are taken again for every entry: a heap that kept
  // giving them back would fault in each page of them anew every time.
  mallopt(M_TRIM_THRESHOLD, kLargeBlock);
#endif
}

}  // namespace vo
