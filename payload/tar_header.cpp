#include "payload/tar_header.h"

namespace vireo {

TarHeaderKind ClassifyTarHeader(const uint8_t* header) {
  const uint8_t* magic = header + kTarMagicOffset;
  if (magic[0] == 0 && magic[1] == 0 && magic[2] == 0 && magic[3] == 0) {
    return TarHeaderKind::kEndOfArchive;
  }
  // Only the five letters are compared: GNU follows them with "  \0", POSIX with "\0".
  static const char kMagic[5] = {'u', 's', 't', 'a', 'r'};
  for (int i = 0; i < 5; ++i) {
    if (magic[i] != static_cast<uint8_t>(kMagic[i])) return TarHeaderKind::kInvalid;
  }
  return TarHeaderKind::kMember;
}

size_t TarNameLength(const uint8_t* header) {
  size_t length = 0;
  while (length < kTarNameFieldSize && header[length] != 0) ++length;
  return length;
}

int32_t ParseTarSize(const uint8_t* header) {
  const uint8_t* field = header + kTarSizeFieldOffset;
  uint32_t i = 0;
  // The blanks of isspace in the C locale.
  while (i < kTarSizeFieldSize && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < kTarSizeFieldSize && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  // The magnitude saturates just above what either sign can hold.
  const uint64_t kSaturated = 0x80000001u;
  uint64_t magnitude = 0;
  for (; i < kTarSizeFieldSize && field[i] >= '0' && field[i] <= '7'; ++i) {
    magnitude = magnitude * 8 + (field[i] - '0');
    if (magnitude > kSaturated) magnitude = kSaturated;
  }
  if (negative) {
    return magnitude >= 0x80000000u ? INT32_MIN : -static_cast<int32_t>(magnitude);
  }
  return magnitude > 0x7FFFFFFFu ? INT32_MAX : static_cast<int32_t>(magnitude);
}

bool NextTarHeaderPosition(uint32_t data_position, int32_t size, uint32_t* next_position) {
  if (size < 0 || data_position >= kTarPositionLimit) return false;
  const uint64_t padded = (static_cast<uint64_t>(size) + kTarBlockSize - 1) / kTarBlockSize *
                          kTarBlockSize;
  const uint64_t next = data_position + padded;
  if (next >= kTarPositionLimit) return false;
  *next_position = static_cast<uint32_t>(next);
  return true;
}

}  // namespace vireo
