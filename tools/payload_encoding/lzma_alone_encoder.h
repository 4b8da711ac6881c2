#pragma once
// LZMA-alone encoding: the 13-byte header (properties, dictionary size, exact
// decoded size) followed by the range-coded data, without an end marker.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vireo {

struct LzmaAloneOptions {
  // The container's fixed form: properties byte 0x5D (lc 3, lp 0, pb 2) and an
  // 8 MiB dictionary, which bounds the stub's decoder memory.
  int literal_context_bits = 3;
  int literal_position_bits = 0;
  int position_bits = 2;
  uint32_t dictionary_size = 8u << 20;
  // Best ratio the format allows: the slowest level, the longest matches and
  // the binary-tree match finder with 4-byte hashing.
  int level = 9;
  int fast_bytes = 273;
  // Match-finder cycles; 0 lets the level choose.
  uint32_t match_cycles = 0;
  // 2 runs the match finder on a thread of its own beside the encoder; the
  // stream's bytes are the same with 1 or 2. One by default, so that a test
  // program that makes payloads stays single-threaded; the packer asks for 2.
  int threads = 1;
  // Only for tests that need a stream ended by a marker.
  bool write_end_marker = false;
  // Called now and then with the bytes read and written so far; may be empty.
  std::function<void(uint64_t in, uint64_t out)> progress;
};

// Returns the LZMA-alone stream of the `size` bytes at `data`; the header's
// size field holds exactly `size`. Throws std::runtime_error when the encoder
// fails (an option it rejects, or no memory).
std::vector<uint8_t> EncodeLzmaAlone(const uint8_t* data, size_t size,
                                     const LzmaAloneOptions& options = LzmaAloneOptions());

}  // namespace vireo
