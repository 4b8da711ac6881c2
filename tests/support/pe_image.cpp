#include "tests/support/pe_image.h"

#include <stdexcept>

#include "base/byte_order.h"

namespace vireo::test {

namespace {

constexpr uint32_t kPeOffset = 0x80;
constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint16_t kPe32PlusMagic = 0x020B;
constexpr uint16_t kPe32OptionalHeaderSize = 224;
constexpr uint16_t kPe32PlusOptionalHeaderSize = 240;
constexpr size_t kFileHeaderEnd = 24;  // signature and file header

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

size_t CertificateEntryOffset(const std::vector<uint8_t>& pe) {
  const size_t headers = PeHeaderOffset(pe);
  switch (ReadLe16(pe, headers + kOptionalHeaderMagicField)) {
    case kPe32Magic:
      return headers + kCertificateEntryPe32;
    case kPe32PlusMagic:
      return headers + kCertificateEntryPe32Plus;
    default:
      throw std::invalid_argument("unknown optional header magic");
  }
}

std::vector<uint8_t> MakeMinimalPe(uint16_t machine) {
  const bool plus = machine == kMachineAmd64;
  const uint16_t optional_size = plus ? kPe32PlusOptionalHeaderSize : kPe32OptionalHeaderSize;
  std::vector<uint8_t> pe(kPeOffset + kFileHeaderEnd + optional_size, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  WriteLe32(pe, 60, kPeOffset);
  pe[kPeOffset] = 'P';
  pe[kPeOffset + 1] = 'E';
  WriteLe16(pe, kPeOffset + kMachineField, machine);
  WriteLe16(pe, kPeOffset + 20, optional_size);
  WriteLe16(pe, kPeOffset + 22, plus ? 0x0022 : 0x0102);  // executable; large-address or 32-bit
  WriteLe16(pe, kPeOffset + kOptionalHeaderMagicField, plus ? kPe32PlusMagic : kPe32Magic);
  // NumberOfRvaAndSizes: all 16 data directories are present.
  WriteLe32(pe, kPeOffset + kFileHeaderEnd + (plus ? 108 : 92), 16);
  return pe;
}

}  // namespace vireo::test
