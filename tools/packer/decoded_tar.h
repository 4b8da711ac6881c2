#pragma once
// A payload decoded on the host exactly as the stub decodes it: the stub's own
// decoder over malloc, the tar image owned here.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "payload/payload_memory_decoder.h"

namespace vireo::packer {

struct DecodedTar {
  struct FreeDeleter {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
  };

  const uint8_t* data() const { return bytes.get(); }
  const uint8_t* end() const { return bytes.get() + size; }

  std::unique_ptr<uint8_t, FreeDeleter> bytes;
  uint32_t size = 0;
};

// Decodes the `size`-byte payload at `payload` with DecodePayloadToMemory. On
// kOk *tar holds the tar image; otherwise it is unchanged.
PayloadDecodeStatus DecodeTar(const uint8_t* payload, uint32_t size, DecodedTar* tar);

}  // namespace vireo::packer
