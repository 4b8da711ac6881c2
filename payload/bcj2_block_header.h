#pragma once
// The 20-byte header at the start of the LZMA-decoded block: the size of the
// tar image after BCJ2 decoding and the sizes of the four BCJ2 streams that
// follow the header back to back (main, CALL targets, jump targets, range coder).

#include <cstdint>

namespace vireo {

constexpr uint32_t kBcj2BlockHeaderSize = 20;
constexpr int kBcj2StreamCount = 4;

struct Bcj2BlockHeader {
  uint32_t output_size;
  uint32_t stream_sizes[kBcj2StreamCount];
  // Offsets of the streams from the start of the block.
  uint32_t stream_offsets[kBcj2StreamCount];
};

// Reads the header of the `block_size`-byte `block`. Returns false, leaving
// `header` unchanged, when the block is shorter than the header or the header
// and the four streams together do not fit in it (the sum cannot overflow).
bool ReadBcj2BlockHeader(const uint8_t* block, uint32_t block_size, Bcj2BlockHeader* header);

// Stores `header`'s output size and stream sizes into the first 20 bytes of `block`.
void WriteBcj2BlockHeader(const Bcj2BlockHeader& header, uint8_t* block);

}  // namespace vireo
