#include "tools/payload_encoding/payload_encoder.h"

#include <string>

#include "tools/payload_encoding/bcj2_encoder.h"
#include "tools/payload_encoding/tar_image_reader.h"

namespace vireo {

std::vector<uint8_t> EncodePayload(const uint8_t* tar, size_t size,
                                   const PayloadEncoderOptions& options) {
  Bcj2EncoderOptions bcj2;
  bcj2.relative_limit = options.bcj2_relative_limit;
  std::vector<TarImageMember> members;
  std::string error;
  if (options.bcj2_per_member && ReadTarImage(tar, size, &members, &error)) {
    for (const TarImageMember& member : members) {
      if (member.size > 0) bcj2.files.push_back({member.data_offset, member.size});
    }
  }
  const std::vector<uint8_t> block = EncodeBcj2Block(tar, size, bcj2);
  return EncodeLzmaAlone(block.data(), block.size(), options.lzma);
}

}  // namespace vireo
