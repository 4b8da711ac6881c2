#include "tools/tagger/pe_checksum.h"

#include "base/byte_order.h"

namespace vireo::tagger {

namespace {

uint32_t WordAt(const uint8_t* data, size_t size, size_t at) {
  uint32_t word = data[at];
  if (at + 1 < size) word |= static_cast<uint32_t>(data[at + 1]) << 8;
  return word;
}

}  // namespace

uint64_t SumLe16Words(const uint8_t* data, size_t size) {
  // No carries until the end: 2^32 bytes of words stay far below 2^64.
  uint64_t sum = 0;
  const size_t pairs = size / 2;
  for (size_t i = 0; i < pairs; ++i) {
    sum += ReadLittleEndian16(data + 2 * i);
  }
  if (size % 2 != 0) sum += data[size - 1];
  return sum;
}

uint64_t SumLe16WordsWithoutChecksum(const uint8_t* data, size_t size, size_t checksum_field) {
  uint64_t sum = SumLe16Words(data, size);
  for (size_t at = (checksum_field + 1) & ~size_t{1}; at < checksum_field + 4 && at < size;
       at += 2) {
    sum -= WordAt(data, size, at);
  }
  return sum;
}

uint32_t FoldPeChecksum(uint64_t word_sum, size_t file_size) {
  // Adding words with end-around carry gives 0 only when every word is 0,
  // and otherwise the sum's residue modulo 0xFFFF taken from 1 to 0xFFFF.
  const uint64_t folded = word_sum == 0 ? 0 : (word_sum - 1) % 0xFFFF + 1;
  return static_cast<uint32_t>(folded + file_size);
}

uint32_t ComputePeChecksum(const std::vector<uint8_t>& file, size_t checksum_field) {
  return FoldPeChecksum(SumLe16WordsWithoutChecksum(file.data(), file.size(), checksum_field),
                        file.size());
}

}  // namespace vireo::tagger
