#include "tests/signing/crafted_images.h"

#include <algorithm>
#include <stdexcept>

#include "tests/signing/signature_table.h"
#include "tests/support/pe_image.h"

namespace vireo::test {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kDosHeaderSize = pe::kDosHeaderSize;
constexpr size_t kPeHeaderOffsetField = pe::kPeHeaderOffsetField;
constexpr size_t kCertificateHeaderSize = pe::kCertificateHeaderSize;
constexpr size_t kSectionCountField = pe::kSectionCountField;
constexpr size_t kSizeOfHeadersField = pe::kOptionalHeader + pe::kHeadersSizeField;
constexpr size_t kSectionHeaderSize = pe::kSectionHeaderSize;

// The layout of `image`'s optional header, as its magic says.
const pe::OptionalHeaderLayout& LayoutOf(const Bytes& image) {
  const pe::OptionalHeaderLayout* layout = pe::OptionalHeaderLayoutFor(
      ReadLe16(image, PeHeaderOffset(image) + kOptionalHeaderMagicField));
  if (!layout) throw std::invalid_argument("unknown optional header magic");
  return *layout;
}

void SetTable(Bytes& file, uint32_t pe, size_t offset, size_t size) {
  const size_t entry = pe + LayoutOf(file).certificate_table_offset_field;
  WriteLe32(file, entry, static_cast<uint32_t>(offset));
  WriteLe32(file, entry + 4, static_cast<uint32_t>(size));
}

}  // namespace

Bytes HeadersInsideTable(const Bytes& image, size_t gap) {
  const CertificateTableFacts facts = ReadCertificateTableFacts(image);
  const uint32_t pe = PeHeaderOffset(image);
  Bytes entry(image.begin() + facts.offset,
              image.begin() + facts.offset + kCertificateHeaderSize + facts.der_size);
  entry.resize(entry.size() + gap, 0);
  const size_t headers = kDosHeaderSize + entry.size();
  entry.insert(entry.end(), image.begin() + pe,
               image.begin() + pe + LayoutOf(image).nt_headers_size);
  entry.resize((entry.size() + 7) / 8 * 8, 0);
  WriteLe32(entry, 0, static_cast<uint32_t>(entry.size()));

  Bytes file(image.begin(), image.begin() + kDosHeaderSize);
  file.insert(file.end(), entry.begin(), entry.end());
  WriteLe32(file, kPeHeaderOffsetField, static_cast<uint32_t>(headers));
  SetTable(file, static_cast<uint32_t>(headers), kDosHeaderSize, entry.size());
  return file;
}

Bytes WithSectionAndTableAt(const Bytes& image, uint32_t table_offset) {
  const CertificateTableFacts facts = ReadCertificateTableFacts(image);
  const uint32_t pe = PeHeaderOffset(image);
  if (ReadLe16(image, pe + kSectionCountField) != 0) {
    throw std::invalid_argument("the image already has sections");
  }
  const size_t section_table = pe + LayoutOf(image).nt_headers_size;
  Bytes file(image.begin(), image.begin() + section_table);
  Bytes section(kSectionHeaderSize, 0);
  const char kName[] = ".text";
  std::copy(kName, kName + sizeof(kName) - 1, section.begin());
  WriteLe32(section, 8, kSectionEnd - kSectionStart);   // VirtualSize
  WriteLe32(section, 12, 0x1000);                       // VirtualAddress
  WriteLe32(section, 16, kSectionEnd - kSectionStart);  // SizeOfRawData
  WriteLe32(section, 20, kSectionStart);                // PointerToRawData
  WriteLe32(section, 36, 0x60000020);                   // code, execute, read
  file.insert(file.end(), section.begin(), section.end());
  WriteLe16(file, pe + kSectionCountField, 1);
  file.resize(kSectionStart, 0);
  file.resize(kSectionEnd, 0xCC);

  file.resize(table_offset, 0);
  file.insert(file.end(), image.begin() + facts.offset, image.begin() + facts.offset + facts.size);
  SetTable(file, pe, table_offset, facts.size);
  return file;
}

Bytes WithSizeOfHeaders(const Bytes& image, uint32_t size) {
  Bytes file = image;
  WriteLe32(file, PeHeaderOffset(image) + kSizeOfHeadersField, size);
  return file;
}

}  // namespace vireo::test
