#include "tools/tagger/signed_image.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "base/byte_order.h"
#include "base/pe_layout.h"
#include "tools/tagger/pe_checksum.h"
#include "tools/tagger/signed_data.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

namespace {

// WIN_CERTIFICATE's revision and type, and the table's alignment.
constexpr uint16_t kRevision2 = 0x0200;
constexpr uint16_t kTypePkcsSignedData = 0x0002;
constexpr uint32_t kTableAlignment = 8;

// Callers check every offset against the file first; these checks only turn
// a mistake in that into an exception instead of a stray access.
void CheckField(size_t image_size, size_t at, size_t size) {
  if (at > image_size || image_size - at < size) {
    throw std::logic_error("PE field at " + std::to_string(at) + " lies outside the " +
                           std::to_string(image_size) + "-byte image");
  }
}

uint16_t ReadLe16(tools::ByteSpan bytes, size_t at) {
  CheckField(bytes.size, at, 2);
  return ReadLittleEndian16(bytes.data + at);
}

uint32_t ReadLe32(tools::ByteSpan bytes, size_t at) {
  CheckField(bytes.size, at, 4);
  return ReadLittleEndian32(bytes.data + at);
}

void WriteLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  CheckField(bytes.size(), at, 4);
  WriteLittleEndian32(bytes.data() + at, value);
}

uint64_t AlignUp(uint64_t value) {
  return (value + kTableAlignment - 1) / kTableAlignment * kTableAlignment;
}

std::string Hex(uint32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

// A section's name for a message: its printable bytes up to the first zero.
std::string SectionName(tools::ByteSpan file, size_t at) {
  std::string name;
  for (size_t i = 0; i < pe::kSectionNameSize && file.data[at + i] != 0; ++i) {
    const char c = static_cast<char>(file.data[at + i]);
    name += c >= 0x20 && c <= 0x7E ? c : '?';
  }
  return name;
}

// Rewriting the table truncates the file at `table` and writes the new entry
// from there on; the headers (with the checksum and data directory fields
// rewritten afterwards) and every section's raw data must lie before it.
void CheckNothingOverlapsTable(tools::ByteSpan file, uint32_t pe_headers,
                               const pe::OptionalHeaderLayout& layout, uint32_t table) {
  // The optional header must reach past data directory entry 4.
  const uint32_t optional_size = ReadLe16(file, pe_headers + pe::kOptionalHeaderSizeField);
  if (optional_size < layout.certificate_entry_field + pe::kDataDirectoryEntrySize) {
    throw TagToolError("the optional header is " + std::to_string(optional_size) +
                       " bytes, too short to hold the certificate table's directory entry");
  }
  const uint32_t sections = ReadLe16(file, pe_headers + pe::kSectionCountField);
  const uint64_t section_table = uint64_t{pe_headers} + pe::kOptionalHeader + optional_size;
  const uint64_t headers_end =
      std::max({section_table + uint64_t{sections} * pe::kSectionHeaderSize,
                uint64_t{pe_headers} + layout.nt_headers_size,
                uint64_t{ReadLe32(file, pe_headers + pe::kOptionalHeader + pe::kHeadersSizeField)}});
  if (table < headers_end) {
    throw TagToolError("the certificate table (offset " + std::to_string(table) +
                       ") overlaps the PE headers, which end at offset " +
                       std::to_string(headers_end) +
                       "; the file is damaged, and rewriting the table would destroy them");
  }
  // The section table ends before `table`, which lies inside the file.
  for (uint32_t i = 0; i < sections; ++i) {
    const size_t header = static_cast<size_t>(section_table) + size_t{i} * pe::kSectionHeaderSize;
    const uint32_t raw_size = ReadLe32(file, header + pe::kSectionRawSizeField);
    const uint32_t raw_offset = ReadLe32(file, header + pe::kSectionRawOffsetField);
    if (raw_size != 0 && uint64_t{raw_offset} + raw_size > table) {
      throw TagToolError("the certificate table (offset " + std::to_string(table) +
                         ") overlaps section " + std::to_string(i + 1) + " \"" +
                         SectionName(file, header) + "\" (file offsets " +
                         std::to_string(raw_offset) + " to " +
                         std::to_string(uint64_t{raw_offset} + raw_size) +
                         "); the file is damaged, and rewriting the table would destroy it");
    }
  }
}

}  // namespace

SignedImage ParseSignedImage(tools::ByteSpan file) {
  if (file.size > UINT32_MAX) {
    throw TagToolError("the file is 4 GiB or larger; the stub cannot map it");
  }
  if (file.size < 64 || file.data[0] != 'M' || file.data[1] != 'Z') {
    throw TagToolError("not a Windows executable (no MZ header)");
  }
  const uint32_t pe_headers = ReadLe32(file, pe::kPeHeaderOffsetField);
  if (static_cast<uint64_t>(pe_headers) + pe::kPe32NtHeadersSize > file.size ||
      file.data[pe_headers] != 'P' || file.data[pe_headers + 1] != 'E' ||
      file.data[pe_headers + 2] != 0 || file.data[pe_headers + 3] != 0) {
    throw TagToolError("not a PE image (no complete PE header)");
  }
  const uint16_t machine = ReadLe16(file, pe_headers + pe::kMachineField);
  const uint16_t magic = ReadLe16(file, pe_headers + pe::kOptionalHeader + pe::kMagicField);
  const pe::OptionalHeaderLayout* layout = pe::OptionalHeaderLayoutFor(magic);
  if (!layout) throw TagToolError("unknown optional header magic " + Hex(magic));
  // The stub's lookup takes the layout from the machine (tag/tag_record.h).
  if ((machine == pe::kMachineAmd64) != (layout == &pe::kPe32PlusLayout)) {
    throw TagToolError("machine " + Hex(machine) + " with a " +
                       (layout == &pe::kPe32PlusLayout ? "PE32+" : "PE32") +
                       " optional header (" + Hex(magic) +
                       "): the stub reads the PE32+ layout in AMD64 images (machine 0x8664) "
                       "and the PE32 layout in all others, so it would not look where the tag "
                       "goes");
  }
  if (static_cast<uint64_t>(pe_headers) + layout->nt_headers_size > file.size) {
    throw TagToolError("not a PE image (no complete PE header)");
  }

  SignedImage image;
  image.pe_header = pe_headers;
  image.nt_headers_end = pe_headers + layout->nt_headers_size;
  image.checksum_field = pe_headers + pe::kOptionalHeader + pe::kChecksumField;
  image.certificate_entry = pe_headers + layout->certificate_table_offset_field;
  const uint32_t table = ReadLe32(file, image.certificate_entry);
  const uint32_t table_size = ReadLe32(file, image.certificate_entry + 4);
  if (ReadLe32(file, pe_headers + pe::kOptionalHeader + layout->directory_count_field) <=
          pe::kCertificateDirectory ||
      table == 0) {
    throw TagToolError("the file is not signed (it has no certificate table); sign it first");
  }
  if (static_cast<uint64_t>(table) + table_size != file.size) {
    throw TagToolError("the certificate table is not at the end of the file (offset " +
                       std::to_string(table) + ", size " + std::to_string(table_size) +
                       ", file size " + std::to_string(file.size) + ")");
  }
  CheckNothingOverlapsTable(file, pe_headers, *layout, table);
  image.table_offset = table;

  if (table_size < pe::kCertificateHeaderSize) {
    throw TagToolError("the certificate table is truncated");
  }
  const uint32_t entry_length = ReadLe32(file, table);
  if (entry_length < pe::kCertificateHeaderSize || entry_length > table_size) {
    throw TagToolError("the certificate table's first entry has an impossible length");
  }
  if (ReadLe16(file, table + 4) != kRevision2 || ReadLe16(file, table + 6) != kTypePkcsSignedData) {
    throw TagToolError(
        "the certificate table's first entry is not an Authenticode (PKCS#7) signature");
  }
  // Only zero padding may follow the first entry: a second entry would be a
  // second signature, which rewriting the table must not drop.
  for (uint64_t at = table + AlignUp(entry_length); at < file.size; ++at) {
    if (file.data[at] != 0) {
      throw TagToolError(
          "the certificate table holds more than one entry; only single-entry tables are "
          "supported");
    }
  }

  image.signed_data_offset = table + pe::kCertificateHeaderSize;
  image.signed_data_size = static_cast<uint32_t>(SignedDataSize(
      file.data + image.signed_data_offset, entry_length - pe::kCertificateHeaderSize));
  return image;
}

std::vector<uint8_t> CertificateTableFor(const std::vector<uint8_t>& signed_data,
                                         uint32_t table_offset) {
  const uint64_t entry_length = AlignUp(pe::kCertificateHeaderSize + signed_data.size());
  if (table_offset + entry_length > UINT32_MAX) {
    throw TagToolError("the tagged file would be 4 GiB or larger");
  }
  std::vector<uint8_t> table(entry_length, 0);
  WriteLe32(table, 0, static_cast<uint32_t>(entry_length));
  table[4] = static_cast<uint8_t>(kRevision2);
  table[5] = static_cast<uint8_t>(kRevision2 >> 8);
  table[6] = static_cast<uint8_t>(kTypePkcsSignedData);
  table[7] = static_cast<uint8_t>(kTypePkcsSignedData >> 8);
  std::copy(signed_data.begin(), signed_data.end(), table.begin() + pe::kCertificateHeaderSize);
  return table;
}

std::vector<uint8_t> WithSignedData(std::vector<uint8_t> file, const SignedImage& image,
                                    const std::vector<uint8_t>& signed_data) {
  const std::vector<uint8_t> table = CertificateTableFor(signed_data, image.table_offset);
  std::vector<uint8_t> out = std::move(file);
  out.resize(image.table_offset);
  out.insert(out.end(), table.begin(), table.end());
  WriteLe32(out, image.certificate_entry + 4, static_cast<uint32_t>(table.size()));
  WriteLe32(out, image.checksum_field, ComputePeChecksum(out, image.checksum_field));
  return out;
}

}  // namespace vireo::tagger
