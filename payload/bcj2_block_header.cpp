#include "payload/bcj2_block_header.h"

#include "base/byte_order.h"

namespace vireo {

bool ReadBcj2BlockHeader(const uint8_t* block, uint32_t block_size, Bcj2BlockHeader* header) {
  if (!block || block_size < kBcj2BlockHeaderSize) return false;
  Bcj2BlockHeader read;
  read.output_size = ReadLittleEndian32(block);
  // 64-bit sum: four 32-bit sizes plus the header cannot wrap it.
  uint64_t end = kBcj2BlockHeaderSize;
  for (int i = 0; i < kBcj2StreamCount; ++i) {
    read.stream_sizes[i] = ReadLittleEndian32(block + 4 + 4 * i);
    read.stream_offsets[i] = static_cast<uint32_t>(end);
    end += read.stream_sizes[i];
    if (end > block_size) return false;
  }
  *header = read;
  return true;
}

void WriteBcj2BlockHeader(const Bcj2BlockHeader& header, uint8_t* block) {
  WriteLittleEndian32(block, header.output_size);
  for (int i = 0; i < kBcj2StreamCount; ++i) {
    WriteLittleEndian32(block + 4 + 4 * i, header.stream_sizes[i]);
  }
}

}  // namespace vireo
