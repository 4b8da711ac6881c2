// Feeds arbitrary 512-byte headers, and names, to the tar header reader and the
// member-name check.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "payload/member_name.h"
#include "payload/tar_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t header[vireo::kTarBlockSize] = {};
  std::memcpy(header, data, size < sizeof(header) ? size : sizeof(header));
  if (vireo::ClassifyTarHeader(header) == vireo::TarHeaderKind::kMember) {
    const size_t name_length = vireo::TarNameLength(header);
    vireo::IsSafeMemberName(reinterpret_cast<const char*>(header), name_length);
    uint32_t next = 0;
    const uint32_t position = size > 4 ? data[0] | data[1] << 8 | data[2] << 16 : 512;
    vireo::NextTarHeaderPosition(position, vireo::ParseTarSize(header), &next);
  }
  vireo::IsSafeMemberName(reinterpret_cast<const char*>(data), size);
  return 0;
}
