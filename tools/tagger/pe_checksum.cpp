#include "tools/tagger/pe_checksum.h"

namespace vireo::tagger {

uint32_t ComputePeChecksum(const std::vector<uint8_t>& file, size_t checksum_field) {
  uint64_t sum = 0;
  for (size_t at = 0; at < file.size(); at += 2) {
    if (at >= checksum_field && at < checksum_field + 4) continue;
    uint32_t word = file[at];
    if (at + 1 < file.size()) word |= static_cast<uint32_t>(file[at + 1]) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + file.size());
}

}  // namespace vireo::tagger
