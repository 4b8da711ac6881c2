#include "payload/lzma_alone_header.h"

#include "base/byte_order.h"

namespace vireo {

bool ReadLzmaAloneHeader(const uint8_t* data, uint32_t size, LzmaAloneHeader* header) {
  if (!data || size < kLzmaAloneHeaderSize) return false;
  for (uint32_t i = 0; i < kLzmaPropertiesSize; ++i) header->properties[i] = data[i];
  header->dictionary_size = ReadLittleEndian32(data + 1);
  header->decoded_size = ReadLittleEndian32(data + 5);
  return true;
}

void WriteLzmaAloneHeader(const uint8_t* properties, uint64_t decoded_size, uint8_t* out) {
  for (uint32_t i = 0; i < kLzmaPropertiesSize; ++i) out[i] = properties[i];
  WriteLittleEndian32(out + 5, static_cast<uint32_t>(decoded_size));
  WriteLittleEndian32(out + 9, static_cast<uint32_t>(decoded_size >> 32));
}

}  // namespace vireo
