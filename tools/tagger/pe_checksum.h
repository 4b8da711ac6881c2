#pragma once
// The PE image checksum of the optional header: the file summed as 16-bit
// little-endian words with end-around carry, the checksum field itself left
// out, plus the file's length.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vireo::tagger {

// The checksum of `file` whose checksum field is at `checksum_field`; that
// field's own bytes do not count.
uint32_t ComputePeChecksum(const std::vector<uint8_t>& file, size_t checksum_field);

}  // namespace vireo::tagger
