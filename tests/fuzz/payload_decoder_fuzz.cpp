// Feeds arbitrary bytes to the payload decoder: it must fail cleanly or decode,
// never read outside its input or leak. Allocations above a cap fail, which
// also drives the out-of-memory paths.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "payload/payload_memory_decoder.h"

namespace {

constexpr size_t kAllocationCap = 64u << 20;

void* Allocate(void*, size_t bytes) { return bytes > kAllocationCap ? nullptr : std::malloc(bytes); }
void Release(void*, void* block) { std::free(block); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  const vireo::PayloadAllocator allocator{&Allocate, &Release, nullptr};
  uint8_t* tar = nullptr;
  uint32_t tar_size = 0;
  if (vireo::DecodePayloadToMemory(data, static_cast<uint32_t>(size), allocator, &tar,
                                   &tar_size) == vireo::PayloadDecodeStatus::kOk) {
    std::free(tar);
  }
  return 0;
}
