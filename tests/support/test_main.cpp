// The tests' entry: the compressors are registered, as in voarc, before any test runs.
#include <gtest/gtest.h>

#include "codec/compress.h"

int main(int argc, char** argv) {
  vo::RegisterCompressors();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
