#include "tag/tag_record.h"

#include <cstring>

namespace vireo {

namespace {

constexpr uint8_t kTagMagic[] = {'W', 'i', 's', 'k', '2', '.', '0', 'V', 'i', 'r', 'e', 'o'};
constexpr uint32_t kTagMagicSize = sizeof(kTagMagic);
constexpr uint32_t kTagLengthSize = 2;

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kPeHeaderOffsetField = 60;  // e_lfanew
// Signature, file header and 32-bit optional header with all 16 data directories.
constexpr uint32_t kNtHeadersSize = 248;
constexpr uint32_t kMachineField = 4;
constexpr uint16_t kMachineAmd64 = 0x8664;
// Data directory entry 4 of the 32-bit optional header.
constexpr uint32_t kCertificateTableOffsetField = 152;
constexpr uint32_t kCertificateTableSizeField = 156;
// WIN_CERTIFICATE: length, revision and type come before the signed data.
constexpr uint32_t kCertificateHeaderSize = 8;
constexpr uint32_t kMinCertificateTableSize = 12;

uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Sums of two 32-bit values are taken in 64 bits, where they cannot wrap.
bool EndsWithin(uint32_t offset, uint32_t length, uint32_t limit) {
  return static_cast<uint64_t>(offset) + length <= limit;
}

}  // namespace

bool LookUpCertificateTable(const uint8_t* view, uint32_t mapped_size,
                            CertificateTableLocation* location) {
  if (!view || !location || mapped_size < kDosHeaderSize) return false;
  if (view[0] != 'M' || view[1] != 'Z') return false;

  const uint32_t pe = ReadLe32(view + kPeHeaderOffsetField);
  if (!EndsWithin(pe, kNtHeadersSize, mapped_size)) return false;
  const uint8_t* headers = view + pe;
  if (headers[0] != 'P' || headers[1] != 'E' || headers[2] != 0 || headers[3] != 0) return false;
  // A 64-bit image keeps its data directories elsewhere; only the 32-bit layout
  // is read.
  if (ReadLe16(headers + kMachineField) == kMachineAmd64) return false;

  const uint32_t table = ReadLe32(headers + kCertificateTableOffsetField);
  if (table == 0) return false;
  if (static_cast<uint64_t>(table) + kMinCertificateTableSize >= mapped_size) return false;
  // The signed data is a DER sequence with a two-byte length: 0x30 0x82.
  if (view[table + kCertificateHeaderSize] != 0x30 ||
      view[table + kCertificateHeaderSize + 1] != 0x82) {
    return false;
  }

  location->offset = table;
  location->size = ReadLe32(headers + kCertificateTableSizeField);
  return true;
}

bool GetTagBytesFromTable(const uint8_t* view, uint32_t mapped_size,
                          CertificateTableLocation location, uint8_t* buffer, int32_t* size) {
  if (!view || !size) return false;
  if (!EndsWithin(location.offset, location.size, mapped_size)) return false;
  // A size of 2 GB or more is as invalid as a short one.
  if (static_cast<int32_t>(location.size) < static_cast<int32_t>(kMinCertificateTableSize)) {
    return false;
  }

  const uint8_t* table = view + location.offset;
  const uint32_t table_size = location.size;
  uint32_t record = 0;
  for (;; ++record) {
    if (!EndsWithin(record, kTagMagicSize, table_size)) return false;
    if (std::memcmp(table + record, kTagMagic, kTagMagicSize) == 0) break;
  }

  const uint32_t length_at = record + kTagMagicSize;
  if (!EndsWithin(length_at, kTagLengthSize, table_size)) return false;
  const uint32_t length = (static_cast<uint32_t>(table[length_at]) << 8) | table[length_at + 1];
  if (length == 0) return false;
  const uint32_t text_at = length_at + kTagLengthSize;
  if (!EndsWithin(text_at, length, table_size)) return false;

  // The length field holds at most 65,535, so the needed size fits in 32 bits.
  const int32_t needed = static_cast<int32_t>(length + 1);
  if (!buffer) {
    *size = needed;
    return true;
  }
  if (*size < needed) return false;
  std::memcpy(buffer, table + text_at, length);
  buffer[length] = 0;
  return true;
}

bool GetTagBytes(const uint8_t* view, uint32_t mapped_size, uint8_t* buffer, int32_t* size) {
  if (!size || !view) return false;
  CertificateTableLocation location{};
  if (!LookUpCertificateTable(view, mapped_size, &location)) return false;
  return GetTagBytesFromTable(view, mapped_size, location, buffer, size);
}

}  // namespace vireo
