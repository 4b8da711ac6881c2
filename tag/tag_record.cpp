#include "tag/tag_record.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/pe_layout.h"

namespace vireo {

namespace {

// The smallest table the lookup reads: the WIN_CERTIFICATE header and the
// start of the signed data's DER sequence.
constexpr uint32_t kMinCertificateTableSize = 12;

// Sums of two 32-bit values are taken in 64 bits, where they cannot wrap.
bool EndsWithin(uint32_t offset, uint32_t length, uint32_t limit) {
  return static_cast<uint64_t>(offset) + length <= limit;
}

}  // namespace

TagRecordStatus FindCertificateTable(const uint8_t* view, uint32_t mapped_size,
                                     CertificateTableLocation* location) {
  if (mapped_size < pe::kDosHeaderSize) return TagRecordStatus::kNotAnExecutable;
  if (view[0] != 'M' || view[1] != 'Z') return TagRecordStatus::kNotAnExecutable;

  const uint32_t pe_headers = ReadLittleEndian32(view + pe::kPeHeaderOffsetField);
  if (!EndsWithin(pe_headers, pe::kPe32NtHeadersSize, mapped_size)) {
    return TagRecordStatus::kNotPeImage;
  }
  const uint8_t* headers = view + pe_headers;
  if (headers[0] != 'P' || headers[1] != 'E' || headers[2] != 0 || headers[3] != 0) {
    return TagRecordStatus::kNotPeImage;
  }
  // Other machines than AMD64 are read with the 32-bit layout whatever their
  // optional header says; an AMD64 image must carry the 64-bit one, whose data
  // directories lie 16 bytes further on.
  const pe::OptionalHeaderLayout* layout = &pe::kPe32Layout;
  if (ReadLittleEndian16(headers + pe::kMachineField) == pe::kMachineAmd64) {
    if (!EndsWithin(pe_headers, pe::kPe32PlusNtHeadersSize, mapped_size)) {
      return TagRecordStatus::kNotPeImage;
    }
    if (ReadLittleEndian16(headers + pe::kOptionalHeader + pe::kMagicField) != pe::kPe32PlusMagic) {
      return TagRecordStatus::kAmd64WithoutPe32Plus;
    }
    layout = &pe::kPe32PlusLayout;
  }

  const uint32_t table = ReadLittleEndian32(headers + layout->certificate_table_offset_field);
  if (table == 0) return TagRecordStatus::kNotSigned;
  if (static_cast<uint64_t>(table) + kMinCertificateTableSize >= mapped_size) {
    return TagRecordStatus::kTableOutsideImage;
  }
  // The signed data is a DER sequence with a two-byte length: 0x30 0x82.
  if (view[table + pe::kCertificateHeaderSize] != 0x30 ||
      view[table + pe::kCertificateHeaderSize + 1] != 0x82) {
    return TagRecordStatus::kTableNotDerSequence;
  }

  location->offset = table;
  location->size = ReadLittleEndian32(headers + layout->certificate_table_offset_field + 4);
  return TagRecordStatus::kFound;
}

TagRecordStatus FindTagRecord(const uint8_t* view, uint32_t mapped_size,
                              CertificateTableLocation location, TagRecordText* text) {
  if (!EndsWithin(location.offset, location.size, mapped_size)) {
    return TagRecordStatus::kTableRunsPastImage;
  }
  // A size of 2 GB or more is as invalid as a short one.
  if (static_cast<int32_t>(location.size) < static_cast<int32_t>(kMinCertificateTableSize)) {
    return TagRecordStatus::kTableTooSmall;
  }

  const uint8_t* table = view + location.offset;
  const uint32_t table_size = location.size;
  uint32_t record = 0;
  for (;; ++record) {
    if (!EndsWithin(record, kTagRecordMagicSize, table_size)) return TagRecordStatus::kNoTagRecord;
    if (std::memcmp(table + record, kTagRecordMagic, kTagRecordMagicSize) == 0) break;
  }

  const uint32_t length_at = record + kTagRecordMagicSize;
  if (!EndsWithin(length_at, kTagRecordLengthSize, table_size)) {
    return TagRecordStatus::kLengthFieldCut;
  }
  text->length = ReadBigEndian16(table + length_at);
  if (text->length == 0) return TagRecordStatus::kZeroLength;
  const uint32_t text_at = length_at + kTagRecordLengthSize;
  if (!EndsWithin(text_at, text->length, table_size)) return TagRecordStatus::kTextRunsPastTable;
  text->offset = location.offset + text_at;
  return TagRecordStatus::kFound;
}

TagRecordStatus FindTagText(const uint8_t* bytes, uint32_t length, uint32_t* text_length) {
  // The text goes inside a double-quoted command-line parameter.
  uint32_t at = 0;
  for (; at < length && bytes[at]; ++at) {
    if (bytes[at] == '"') {
      *text_length = at;
      return TagRecordStatus::kDoubleQuote;
    }
  }
  if (at == 0) return TagRecordStatus::kEmptyText;
  *text_length = at;
  return TagRecordStatus::kFound;
}

bool LookUpCertificateTable(const uint8_t* view, uint32_t mapped_size,
                            CertificateTableLocation* location) {
  if (!view || !location) return false;
  return FindCertificateTable(view, mapped_size, location) == TagRecordStatus::kFound;
}

bool GetTagBytesFromTable(const uint8_t* view, uint32_t mapped_size,
                          CertificateTableLocation location, uint8_t* buffer, int32_t* size) {
  if (!view || !size) return false;
  TagRecordText text{};
  if (FindTagRecord(view, mapped_size, location, &text) != TagRecordStatus::kFound) return false;

  // The length field holds at most 65,535, so the needed size fits in 32 bits.
  const int32_t needed = static_cast<int32_t>(text.length + 1);
  if (!buffer) {
    *size = needed;
    return true;
  }
  if (*size < needed) return false;
  std::memcpy(buffer, view + text.offset, text.length);
  buffer[text.length] = 0;
  return true;
}

bool GetTagBytes(const uint8_t* view, uint32_t mapped_size, uint8_t* buffer, int32_t* size) {
  if (!size || !view) return false;
  CertificateTableLocation location{};
  if (!LookUpCertificateTable(view, mapped_size, &location)) return false;
  return GetTagBytesFromTable(view, mapped_size, location, buffer, size);
}

}  // namespace vireo
