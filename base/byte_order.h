#pragma once
// Fixed-width little-endian fields of the payload container, read and written a
// byte at a time so that no field needs to be aligned.

#include <cstdint>

namespace vireo {

// Returns the 32-bit little-endian value at `bytes` (4 readable bytes).
inline uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// Stores `value` little-endian into the 4 bytes at `bytes`.
inline void WriteLittleEndian32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace vireo
