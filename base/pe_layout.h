#pragma once
// Where the fields of a PE image lie, as the byte parsers of the stub and of
// the host tools read them: the DOS header's pointer to the PE headers, the
// file header, the optional header with its data directories (PE32 in 32-bit
// images, PE32+ in 64-bit ones), the section table and the certificate
// table's entries. The one definition for all of them; portable (no Windows
// headers), so that it builds for the stub and the host alike.

#include <cstdint>

namespace vireo::pe {

// The DOS header; its field e_lfanew holds the offset of the PE headers.
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kPeHeaderOffsetField = 60;

// From the PE headers' start: the signature "PE\0\0", then the file header.
constexpr uint32_t kSignatureSize = 4;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kMachineField = kSignatureSize + 0;
constexpr uint32_t kSectionCountField = kSignatureSize + 2;
constexpr uint32_t kOptionalHeaderSizeField = kSignatureSize + 16;
constexpr uint32_t kOptionalHeader = kSignatureSize + kFileHeaderSize;

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint16_t kPe32PlusMagic = 0x020B;

// From the optional header's start, in both layouts: the magic, and the
// fields from SectionAlignment to CheckSum.
constexpr uint32_t kMagicField = 0;
constexpr uint32_t kFileAlignmentField = 36;
constexpr uint32_t kImageSizeField = 56;    // SizeOfImage
constexpr uint32_t kHeadersSizeField = 60;  // SizeOfHeaders
constexpr uint32_t kChecksumField = 64;

constexpr uint32_t kDataDirectoryEntrySize = 8;  // address, then size
constexpr uint32_t kCertificateDirectory = 4;

// From the optional header's start, the 32-bit layout (PE32).
constexpr uint32_t kImageBaseField = 28;  // 4 bytes, after BaseOfData
constexpr uint32_t kDirectoryCountField = 92;  // NumberOfRvaAndSizes
constexpr uint32_t kDataDirectories = 96;
constexpr uint32_t kCertificateEntryField =
    kDataDirectories + kCertificateDirectory * kDataDirectoryEntrySize;
// With all 16 data directories.
constexpr uint32_t kPe32OptionalHeaderSize = 224;

// Signature, file header and the 32-bit optional header with all 16 data
// directories: the extent the stub's tag lookup checks.
constexpr uint32_t kPe32NtHeadersSize = kOptionalHeader + kPe32OptionalHeaderSize;
// The certificate table's entry (file offset, then size), from the PE headers' start.
constexpr uint32_t kCertificateTableOffsetField = kOptionalHeader + kCertificateEntryField;
constexpr uint32_t kCertificateTableSizeField = kCertificateTableOffsetField + 4;

// From the optional header's start, the 64-bit layout (PE32+): no BaseOfData,
// an 8-byte ImageBase and 8-byte stack and heap sizes, so NumberOfRvaAndSizes
// and the data directories lie 16 bytes further on than in PE32.
constexpr uint32_t kPe32PlusImageBaseField = 24;  // 8 bytes
constexpr uint32_t kPe32PlusDirectoryCountField = 108;
constexpr uint32_t kPe32PlusDataDirectories = 112;
constexpr uint32_t kPe32PlusCertificateEntryField =
    kPe32PlusDataDirectories + kCertificateDirectory * kDataDirectoryEntrySize;
constexpr uint32_t kPe32PlusOptionalHeaderSize = 240;
constexpr uint32_t kPe32PlusNtHeadersSize = kOptionalHeader + kPe32PlusOptionalHeaderSize;

// What differs between the two layouts, for the parsers that take both.
struct OptionalHeaderLayout {
  uint16_t magic;
  // From the optional header's start.
  uint32_t directory_count_field;    // NumberOfRvaAndSizes
  uint32_t data_directories;
  uint32_t certificate_entry_field;  // data directory entry 4: file offset, then size
  uint32_t full_size;                // with all 16 data directories
  // From the PE headers' start.
  uint32_t nt_headers_size;  // signature, file header, full_size
  uint32_t certificate_table_offset_field;
};

constexpr OptionalHeaderLayout kPe32Layout = {
    kPe32Magic,           kDirectoryCountField, kDataDirectories, kCertificateEntryField,
    kPe32OptionalHeaderSize, kPe32NtHeadersSize, kCertificateTableOffsetField};
constexpr OptionalHeaderLayout kPe32PlusLayout = {
    kPe32PlusMagic,
    kPe32PlusDirectoryCountField,
    kPe32PlusDataDirectories,
    kPe32PlusCertificateEntryField,
    kPe32PlusOptionalHeaderSize,
    kPe32PlusNtHeadersSize,
    kOptionalHeader + kPe32PlusCertificateEntryField};

// The layout of an optional header that starts with `magic`; null for any
// other magic than PE32's and PE32+'s.
constexpr const OptionalHeaderLayout* OptionalHeaderLayoutFor(uint16_t magic) {
  return magic == kPe32Magic ? &kPe32Layout : magic == kPe32PlusMagic ? &kPe32PlusLayout : nullptr;
}

// A section header: its name, then the raw data's size and file offset.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionNameSize = 8;
constexpr uint32_t kSectionRawSizeField = 16;
constexpr uint32_t kSectionRawOffsetField = 20;

// WIN_CERTIFICATE: length, revision and type come before the signed data.
constexpr uint32_t kCertificateHeaderSize = 8;

static_assert(kOptionalHeader == 24, "file header after the signature");
static_assert(kPe32NtHeadersSize == 248, "PE32 headers");
static_assert(kCertificateTableOffsetField == 152, "PE32 data directory entry 4");
static_assert(kPe32PlusNtHeadersSize == 264, "PE32+ headers");
static_assert(kPe32PlusLayout.certificate_table_offset_field == 168,
              "PE32+ data directory entry 4");
static_assert(kDataDirectories - kDirectoryCountField == 4 &&
                  kPe32PlusDataDirectories - kPe32PlusDirectoryCountField == 4,
              "the data directories follow NumberOfRvaAndSizes");
static_assert(kPe32OptionalHeaderSize == kDataDirectories + 16 * kDataDirectoryEntrySize &&
                  kPe32PlusOptionalHeaderSize ==
                      kPe32PlusDataDirectories + 16 * kDataDirectoryEntrySize,
              "16 data directories end the optional header");

}  // namespace vireo::pe
