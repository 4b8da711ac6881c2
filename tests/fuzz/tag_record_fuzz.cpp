// Feeds arbitrary images to the certificate-table tag lookup: both calls must
// stay inside the image and agree with each other.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tag/tag_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  int32_t needed = 0;
  if (!vireo::GetTagBytes(data, static_cast<uint32_t>(size), nullptr, &needed)) return 0;
  if (needed < 2 || needed > 65536) std::abort();
  std::vector<uint8_t> buffer(static_cast<size_t>(needed));
  int32_t capacity = needed;
  if (!vireo::GetTagBytes(data, static_cast<uint32_t>(size), buffer.data(), &capacity)) {
    std::abort();
  }
  if (buffer.back() != 0) std::abort();
  return 0;
}
