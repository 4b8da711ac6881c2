#pragma once
// Encoding of a tar image into the payload container the stub decodes:
// BCJ2 (tar members as separate files) and then LZMA-alone.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/payload_encoding/lzma_alone_encoder.h"

namespace vireo {

struct PayloadEncoderOptions {
  // Restrict branch conversion to targets inside the same tar member. Falls
  // back to the whole image as one file when the image is not a readable tar.
  bool bcj2_per_member = true;
  uint32_t bcj2_relative_limit = 0x0F000000;
  LzmaAloneOptions lzma;
};

// Returns the payload container for the `size`-byte tar image at `tar`.
// Throws std::length_error for an image of 4 GiB or more and
// std::runtime_error when an encoder fails.
std::vector<uint8_t> EncodePayload(const uint8_t* tar, size_t size,
                                   const PayloadEncoderOptions& options = PayloadEncoderOptions());

}  // namespace vireo
