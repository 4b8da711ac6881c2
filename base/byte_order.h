#pragma once
// Fixed-width fields of the formats the stub and the tools parse (PE headers,
// the payload container, the tag record), read and written a byte at a time so
// that no field needs to be aligned. Portable: no system headers, so that the
// stub, the host tools and the tests share it.

#include <cstdint>

namespace vireo {

// Returns the 16-bit little-endian value at `bytes` (2 readable bytes).
inline uint16_t ReadLittleEndian16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

// Returns the 32-bit little-endian value at `bytes` (4 readable bytes).
inline uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// Stores `value` little-endian into the 2 bytes at `bytes`.
inline void WriteLittleEndian16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

// Stores `value` little-endian into the 4 bytes at `bytes`.
inline void WriteLittleEndian32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

// Returns the 16-bit big-endian value at `bytes` (2 readable bytes): the tag
// record's length field.
inline uint16_t ReadBigEndian16(const uint8_t* bytes) {
  return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

// Stores `value` big-endian into the 2 bytes at `bytes`.
inline void WriteBigEndian16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value);
}

}  // namespace vireo
