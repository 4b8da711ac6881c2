#pragma once
// BCJ2 encoding of a buffer into the four streams of the payload container, and
// the decoded block that carries them behind their 20-byte header.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vireo {

// A range of the input that holds one file (for a tar image: one member's data).
struct Bcj2FileRange {
  uint64_t offset;
  uint64_t size;
};

struct Bcj2EncoderOptions {
  // When not empty (sorted, not overlapping): a branch is converted only when
  // its target lies inside the same file, and nothing outside the files (tar
  // headers, padding) is converted. Empty: the whole input is one file.
  std::vector<Bcj2FileRange> files;
  // Largest relative branch distance that is converted (at most 2 GiB).
  uint32_t relative_limit = 0x0F000000;
};

struct Bcj2Streams {
  std::vector<uint8_t> main;
  std::vector<uint8_t> call;
  std::vector<uint8_t> jump;
  std::vector<uint8_t> range_coder;
};

// Encodes the `size` bytes at `data` into the four streams.
Bcj2Streams EncodeBcj2Streams(const uint8_t* data, size_t size, const Bcj2EncoderOptions& options);

// Returns the decoded block: the 20-byte header (`output_size`, then the four
// stream sizes) followed by the streams in order. Throws std::length_error
// when the block would not fit 32-bit sizes.
std::vector<uint8_t> BuildBcj2Block(uint32_t output_size, const Bcj2Streams& streams);

// EncodeBcj2Streams and BuildBcj2Block together. Throws std::length_error for
// an input of 4 GiB or more.
std::vector<uint8_t> EncodeBcj2Block(const uint8_t* data, size_t size,
                                     const Bcj2EncoderOptions& options);

}  // namespace vireo
