#include "tools/packer/decoded_tar.h"

namespace vireo::packer {

namespace {

void* MallocAllocate(void*, size_t bytes) { return std::malloc(bytes); }
void MallocRelease(void*, void* block) { std::free(block); }

}  // namespace

PayloadDecodeStatus DecodeTar(const uint8_t* payload, uint32_t size, DecodedTar* tar) {
  const PayloadAllocator allocator{MallocAllocate, MallocRelease, nullptr};
  uint8_t* bytes = nullptr;
  uint32_t bytes_size = 0;
  const PayloadDecodeStatus status =
      DecodePayloadToMemory(payload, size, allocator, &bytes, &bytes_size);
  if (status == PayloadDecodeStatus::kOk) {
    tar->bytes.reset(bytes);
    tar->size = bytes_size;
  }
  return status;
}

}  // namespace vireo::packer
