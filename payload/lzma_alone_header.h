#pragma once
// The 13-byte header of an LZMA-alone stream: five property bytes (lc/lp/pb and
// the dictionary size) and the 64-bit decoded size, both little-endian.

#include <cstdint>

namespace vireo {

constexpr uint32_t kLzmaAloneHeaderSize = 13;
constexpr uint32_t kLzmaPropertiesSize = 5;

struct LzmaAloneHeader {
  uint8_t properties[kLzmaPropertiesSize];
  uint32_t dictionary_size;
  // Only the low 32 bits of the stored 64-bit size: the container never
  // holds a block of 4 GiB or more, and the high half is ignored.
  uint32_t decoded_size;
};

// Reads the header at the start of the `size`-byte `data`. Returns false,
// leaving `header` unchanged, when fewer than 13 bytes are given.
bool ReadLzmaAloneHeader(const uint8_t* data, uint32_t size, LzmaAloneHeader* header);

// Stores the 5 `properties` bytes and the 64-bit `decoded_size` into the 13
// bytes at `out`.
void WriteLzmaAloneHeader(const uint8_t* properties, uint64_t decoded_size, uint8_t* out);

}  // namespace vireo
