#pragma once
// Reading and writing the few PE header fields that test images are built from,
// and the smallest image the tag reader accepts. Portable: used by host and
// Windows tests alike.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/pe_layout.h"

namespace vireo::test {

constexpr uint16_t kMachineI386 = pe::kMachineI386;
constexpr uint16_t kMachineAmd64 = pe::kMachineAmd64;

// Field offsets relative to the PE signature (e_lfanew).
constexpr size_t kMachineField = pe::kMachineField;
constexpr size_t kOptionalHeaderMagicField = pe::kOptionalHeader + pe::kMagicField;
// Data directory entry 4 (certificate table): file offset, then size.
constexpr size_t kCertificateEntryPe32 = pe::kPe32Layout.certificate_table_offset_field;
constexpr size_t kCertificateEntryPe32Plus = pe::kPe32PlusLayout.certificate_table_offset_field;

uint16_t ReadLe16(const std::vector<uint8_t>& bytes, size_t offset);
uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset);
// Both throw std::out_of_range when the field does not fit in `bytes`.
void WriteLe16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
void WriteLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

// e_lfanew of `pe`. Throws std::invalid_argument when `pe` does not start with
// "MZ" or its "PE\0\0" signature is missing.
uint32_t PeHeaderOffset(const std::vector<uint8_t>& pe);

// Offset of the certificate table's data directory entry in `pe`: the PE32 or
// the PE32+ place, as the optional header's magic says. Throws
// std::invalid_argument for anything else.
size_t CertificateEntryOffset(const std::vector<uint8_t>& pe);

// Headers only, no sections: a DOS header with e_lfanew 0x80, the PE signature,
// a file header for `machine` and an optional header with 16 empty data
// directories (PE32+ for kMachineAmd64, PE32 otherwise). Enough for the tag
// reader and the stamping functions; not loadable.
std::vector<uint8_t> MakeMinimalPe(uint16_t machine = kMachineI386);

}  // namespace vireo::test
