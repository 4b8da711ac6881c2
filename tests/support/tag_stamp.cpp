#include "tests/support/tag_stamp.h"

#include <iterator>
#include <stdexcept>

#include "base/byte_order.h"
#include "tag/tag_record_format.h"
#include "tests/support/pe_image.h"

namespace vireo::test {

namespace {

constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kCertificateTypePkcs7 = 0x0002;
constexpr size_t kCertificateHeaderSize = 8;
constexpr size_t kDerHeaderSize = 4;  // 0x30 0x82 and two length bytes

// The start of a PKCS#7 SignedData body (content type OID 1.2.840.113549.1.7.2
// and an explicit tag), followed by a repeating pattern.
uint8_t FillerByte(size_t index) {
  static constexpr uint8_t kOidStart[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                          0x0D, 0x01, 0x07, 0x02, 0xA0, 0x82};
  if (index < sizeof(kOidStart)) return kOidStart[index];
  return static_cast<uint8_t>(index * 37 + 11);
}

}  // namespace

std::vector<uint8_t> TagRecord(const std::string& tag, uint16_t declared_length) {
  std::vector<uint8_t> record(std::begin(kTagRecordMagic), std::end(kTagRecordMagic));
  record.resize(kTagRecordHeaderSize);
  WriteBigEndian16(record.data() + kTagRecordMagicSize, declared_length);
  record.insert(record.end(), tag.begin(), tag.end());
  return record;
}

std::vector<uint8_t> TagRecord(const std::string& tag) {
  if (tag.size() > 0xFFFF) throw std::length_error("a tag holds at most 65535 bytes");
  return TagRecord(tag, static_cast<uint16_t>(tag.size()));
}

size_t CertificateTableContentsOffset(const CertificateTableShape& shape) {
  return kCertificateHeaderSize + kDerHeaderSize + shape.filler_before;
}

std::vector<uint8_t> CertificateTable(const std::vector<uint8_t>& contents,
                                      const CertificateTableShape& shape) {
  std::vector<uint8_t> table(CertificateTableContentsOffset(shape), 0);
  for (size_t i = 0; i < shape.filler_before; ++i) {
    table[kCertificateHeaderSize + kDerHeaderSize + i] = FillerByte(i);
  }
  table.insert(table.end(), contents.begin(), contents.end());
  table.resize(table.size() + shape.zeros_after, 0);
  if (shape.pad_to_8) table.resize((table.size() + 7) / 8 * 8, 0);

  WriteLe32(table, 0, static_cast<uint32_t>(table.size()));
  WriteLe16(table, 4, kCertificateRevision);
  WriteLe16(table, 6, kCertificateTypePkcs7);
  table[8] = shape.der_start[0];
  table[9] = shape.der_start[1];
  const size_t der_length = table.size() - kCertificateHeaderSize - kDerHeaderSize;
  const uint16_t saturated = der_length > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(der_length);
  table[10] = static_cast<uint8_t>(saturated >> 8);
  table[11] = static_cast<uint8_t>(saturated);
  return table;
}

std::vector<uint8_t> StampCertificateTable(const std::vector<uint8_t>& pe,
                                           const std::vector<uint8_t>& table) {
  const size_t entry = CertificateEntryOffset(pe);
  std::vector<uint8_t> stamped = pe;
  const uint32_t old_offset = ReadLe32(pe, entry);
  const uint32_t old_size = ReadLe32(pe, entry + 4);
  if (old_offset != 0) {
    if (static_cast<uint64_t>(old_offset) + old_size != pe.size()) {
      throw std::invalid_argument("the image's certificate table does not end the file");
    }
    stamped.resize(old_offset);
  }
  stamped.resize((stamped.size() + 7) / 8 * 8, 0);
  if (stamped.size() + table.size() > 0xFFFFFFFFu) {
    throw std::invalid_argument("stamped image would exceed 4 GB");
  }

  WriteLe32(stamped, entry, static_cast<uint32_t>(stamped.size()));
  WriteLe32(stamped, entry + 4, static_cast<uint32_t>(table.size()));
  stamped.insert(stamped.end(), table.begin(), table.end());
  return stamped;
}

std::vector<uint8_t> StampTag(const std::vector<uint8_t>& pe, const std::string& tag) {
  return StampCertificateTable(pe, CertificateTable(TagRecord(tag)));
}

}  // namespace vireo::test
