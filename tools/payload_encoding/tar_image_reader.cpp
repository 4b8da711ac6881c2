#include "tools/payload_encoding/tar_image_reader.h"

#include "payload/tar_header.h"

namespace vireo {
namespace {

bool IsPlainOctalSize(const uint8_t* header) {
  const uint8_t* field = header + kTarSizeFieldOffset;
  uint32_t i = 0;
  while (i < kTarSizeFieldSize && field[i] == ' ') ++i;
  const uint32_t first_digit = i;
  while (i < kTarSizeFieldSize && field[i] >= '0' && field[i] <= '7') ++i;
  if (i == first_digit) return false;
  return i == kTarSizeFieldSize || field[i] == 0 || field[i] == ' ';
}

}  // namespace

bool ReadTarImage(const uint8_t* image, size_t size, std::vector<TarImageMember>* members,
                  std::string* error) {
  members->clear();
  uint64_t position = 0;
  for (;;) {
    if (position > size || size - position < kTarBlockSize) {
      *error = "archive ends without an end-of-archive block at offset " + std::to_string(position);
      return false;
    }
    const uint8_t* header = image + position;
    const TarHeaderKind kind = ClassifyTarHeader(header);
    if (kind == TarHeaderKind::kEndOfArchive) return true;
    if (kind == TarHeaderKind::kInvalid) {
      *error = "no tar header (\"ustar\" magic) at offset " + std::to_string(position);
      return false;
    }
    TarImageMember member;
    member.name.assign(reinterpret_cast<const char*>(header), TarNameLength(header));
    member.header_offset = position;
    member.data_offset = position + kTarBlockSize;
    member.type_flag = static_cast<char>(header[kTarTypeFlagOffset]);
    member.size_is_plain_octal = IsPlainOctalSize(header);
    const int32_t member_size = ParseTarSize(header);
    uint32_t next = 0;
    if (member.data_offset >= kTarPositionLimit ||
        !NextTarHeaderPosition(static_cast<uint32_t>(member.data_offset), member_size, &next)) {
      *error = "member \"" + member.name + "\" has a negative size or lies beyond 2 GiB";
      return false;
    }
    member.size = static_cast<uint32_t>(member_size);
    if (member.data_offset + member.size > size) {
      *error = "member \"" + member.name + "\" runs past the end of the archive";
      return false;
    }
    members->push_back(member);
    position = next;
  }
}

}  // namespace vireo
