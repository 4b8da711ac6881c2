#include "tools/release/pe_checksum_check.h"

#include "tools/tagger/pe_checksum.h"
#include "tools/tagger/signed_image.h"

namespace vireo::release {

PeChecksumCheck CheckPeChecksum(const std::vector<uint8_t>& file) {
  // ParseSignedImage checks that the whole optional header lies in the file.
  const uint32_t field = tagger::ParseSignedImage(file).checksum_field;
  PeChecksumCheck check;
  check.stored = static_cast<uint32_t>(file[field]) | static_cast<uint32_t>(file[field + 1]) << 8 |
                 static_cast<uint32_t>(file[field + 2]) << 16 |
                 static_cast<uint32_t>(file[field + 3]) << 24;
  check.computed = tagger::ComputePeChecksum(file, field);
  return check;
}

}  // namespace vireo::release
