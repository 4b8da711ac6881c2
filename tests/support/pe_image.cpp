#include "tests/support/pe_image.h"

#include <stdexcept>

#include "base/byte_order.h"

namespace vireo::test {

namespace {

constexpr uint32_t kPeOffset = 0x80;

void CheckFits(const std::vector<uint8_t>& bytes, size_t offset, size_t size) {
  if (offset > bytes.size() || size > bytes.size() - offset) {
    throw std::out_of_range("PE field past the end of the image");
  }
}

}  // namespace

uint16_t ReadLe16(const std::vector<uint8_t>& bytes, size_t offset) {
  CheckFits(bytes, offset, 2);
  return ReadLittleEndian16(bytes.data() + offset);
}

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset) {
  CheckFits(bytes, offset, 4);
  return ReadLittleEndian32(bytes.data() + offset);
}

void WriteLe16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
  CheckFits(bytes, offset, 2);
  WriteLittleEndian16(bytes.data() + offset, value);
}

void WriteLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  CheckFits(bytes, offset, 4);
  WriteLittleEndian32(bytes.data() + offset, value);
}

uint32_t PeHeaderOffset(const std::vector<uint8_t>& pe) {
  if (pe.size() < 64 || pe[0] != 'M' || pe[1] != 'Z') {
    throw std::invalid_argument("not an MZ image");
  }
  const uint32_t offset = ReadLe32(pe, 60);
  if (offset > pe.size() || pe.size() - offset < 4 || pe[offset] != 'P' || pe[offset + 1] != 'E' ||
      pe[offset + 2] != 0 || pe[offset + 3] != 0) {
    throw std::invalid_argument("no PE signature at e_lfanew");
  }
  return offset;
}

size_t CertificateEntryOffset(const std::vector<uint8_t>& image) {
  const size_t headers = PeHeaderOffset(image);
  const pe::OptionalHeaderLayout* layout =
      pe::OptionalHeaderLayoutFor(ReadLe16(image, headers + kOptionalHeaderMagicField));
  if (!layout) throw std::invalid_argument("unknown optional header magic");
  return headers + layout->certificate_table_offset_field;
}

std::vector<uint8_t> MakeMinimalPe(uint16_t machine) {
  const pe::OptionalHeaderLayout& layout =
      machine == kMachineAmd64 ? pe::kPe32PlusLayout : pe::kPe32Layout;
  std::vector<uint8_t> image(kPeOffset + layout.nt_headers_size, 0);
  image[0] = 'M';
  image[1] = 'Z';
  WriteLe32(image, pe::kPeHeaderOffsetField, kPeOffset);
  image[kPeOffset] = 'P';
  image[kPeOffset + 1] = 'E';
  WriteLe16(image, kPeOffset + kMachineField, machine);
  WriteLe16(image, kPeOffset + pe::kOptionalHeaderSizeField,
            static_cast<uint16_t>(layout.full_size));
  // Executable; large-address aware (PE32+) or 32-bit.
  WriteLe16(image, kPeOffset + 22, machine == kMachineAmd64 ? 0x0022 : 0x0102);
  WriteLe16(image, kPeOffset + kOptionalHeaderMagicField, layout.magic);
  // NumberOfRvaAndSizes: all 16 data directories are present.
  WriteLe32(image, kPeOffset + pe::kOptionalHeader + layout.directory_count_field, 16);
  return image;
}

}  // namespace vireo::test
