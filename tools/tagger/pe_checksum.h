#pragma once
// The PE image checksum of the optional header: the file summed as 16-bit
// little-endian words with end-around carry, the checksum field itself left
// out, plus the file's length. The words' plain sum can be taken piece by
// piece (each piece starting at an even file offset) and folded at the end,
// so a file rewritten only in a few places needs only those places summed.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vireo::tagger {

// The plain sum of the little-endian 16-bit words of `data[0, size)`, a last
// odd byte counting as a word of its own; `data` lies at an even file offset.
uint64_t SumLe16Words(const uint8_t* data, size_t size);

// SumLe16Words of `data[0, size)` less the words that start at even offsets
// inside the 4-byte checksum field at `checksum_field` (an offset in `data`).
uint64_t SumLe16WordsWithoutChecksum(const uint8_t* data, size_t size, size_t checksum_field);

// The checksum of a file of `file_size` bytes whose words, the checksum
// field's left out, sum to `word_sum`.
uint32_t FoldPeChecksum(uint64_t word_sum, size_t file_size);

// The checksum of `file` whose checksum field is at `checksum_field`; that
// field's own bytes do not count.
uint32_t ComputePeChecksum(const std::vector<uint8_t>& file, size_t checksum_field);

}  // namespace vireo::tagger
