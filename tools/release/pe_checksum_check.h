#pragma once
// Whether a signed stub's optional header holds the checksum its bytes sum
// to: the tagger rewrites it with every tag, and a stale one makes some
// systems refuse the file.

#include <cstdint>
#include <vector>

namespace vireo::release {

struct PeChecksumCheck {
  uint32_t stored = 0;    // the optional header's CheckSum
  uint32_t computed = 0;  // what the file's bytes sum to
  bool matches() const { return stored == computed; }
};

// Checks `file`. Throws TagToolError when `file` is not a signed 32-bit image
// the tagger accepts.
PeChecksumCheck CheckPeChecksum(const std::vector<uint8_t>& file);

}  // namespace vireo::release
