// The packer's encoder threads (a host matter: the stub never encodes, and
// Windows test programs keep to one thread).
#include <gtest/gtest.h>

#include "tools/payload_encoding/lzma_alone_encoder.h"
#include "tests/payload/payload_test_data.h"

namespace vireo::test {
namespace {

// The match finder's second thread changes when matches are found, not which:
// a payload is the same bytes whatever the thread count, so the count need not
// be part of what makes a build reproducible. Code, noise and a far repeat, so
// that the threads hand blocks over many times.
TEST(LzmaAloneEncoderTest, TheStreamIsTheSameWithOneOrTwoThreads) {
  Bytes data = X86LikeCode(1 << 20, 24);
  const Bytes noise = RandomBytes(512 << 10, 25);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), data.begin() + (256 << 10), data.begin() + (1 << 20));
  LzmaAloneOptions one;
  one.threads = 1;
  LzmaAloneOptions two;
  two.threads = 2;
  EXPECT_TRUE(EncodeLzmaAlone(data.data(), data.size(), two) ==
              EncodeLzmaAlone(data.data(), data.size(), one));
}

}  // namespace
}  // namespace vireo::test
