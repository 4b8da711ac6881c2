#pragma once
// The parts of a 512-byte tar header that the reader looks at: the magic, the
// name field and the octal size. Everything else in the header is ignored.

#include <cstddef>
#include <cstdint>

namespace vireo {

constexpr uint32_t kTarBlockSize = 512;
constexpr uint32_t kTarNameFieldSize = 100;
constexpr uint32_t kTarSizeFieldOffset = 124;
constexpr uint32_t kTarSizeFieldSize = 12;
constexpr uint32_t kTarTypeFlagOffset = 156;
constexpr uint32_t kTarMagicOffset = 257;
// Archive positions are 32-bit and the seek to the next header is a signed one.
constexpr uint32_t kTarPositionLimit = 0x80000000u;

enum class TarHeaderKind {
  kEndOfArchive,  // bytes 257 to 260 all zero
  kMember,        // bytes 257 to 261 are "ustar" (GNU and POSIX forms alike)
  kInvalid,       // anything else
};

// Classifies the 512-byte `header`.
TarHeaderKind ClassifyTarHeader(const uint8_t* header);

// Returns the length of the name at the start of `header`: up to its first
// NUL, or the whole 100-byte field when it has none.
size_t TarNameLength(const uint8_t* header);

// Parses the 12-byte size field of `header` with the rules of strtol in base 8:
// leading blanks skipped, an optional sign, octal digits up to the first other
// character. The parse never reads past the field; a value beyond the 32-bit
// range is clamped to INT32_MAX or INT32_MIN.
int32_t ParseTarSize(const uint8_t* header);

// Computes the position of the next header from `data_position` (the first
// byte after this header) and the member `size`, including the zero padding to
// a multiple of 512. Returns false, leaving `next_position` unchanged, for a
// negative size or when either position would reach 2 GiB.
bool NextTarHeaderPosition(uint32_t data_position, int32_t size, uint32_t* next_position);

}  // namespace vireo
