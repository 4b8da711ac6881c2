#pragma once
// Where the fields of a PE image lie, as the byte parsers of the stub and of
// the host tools read them: the DOS header's pointer to the PE headers, the
// file header, the 32-bit optional header with its data directories, the
// section table and the certificate table's entries. The one definition for
// all of them; portable (no Windows headers), so that it builds for the stub
// and the host alike.

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

// From the optional header's start (the 32-bit layout).
constexpr uint32_t kMagicField = 0;
constexpr uint32_t kImageBaseField = 28;
constexpr uint32_t kFileAlignmentField = 36;
constexpr uint32_t kHeadersSizeField = 60;  // SizeOfHeaders
constexpr uint32_t kChecksumField = 64;
constexpr uint32_t kDirectoryCountField = 92;
constexpr uint32_t kDataDirectories = 96;
constexpr uint32_t kDataDirectoryEntrySize = 8;  // address, then size
constexpr uint32_t kCertificateDirectory = 4;
constexpr uint32_t kCertificateEntryField =
    kDataDirectories + kCertificateDirectory * kDataDirectoryEntrySize;
// With all 16 data directories.
constexpr uint32_t kPe32OptionalHeaderSize = 224;

constexpr uint16_t kPe32Magic = 0x010B;
constexpr uint16_t kPe32PlusMagic = 0x020B;

// Signature, file header and the 32-bit optional header with all 16 data
// directories: the extent the stub's tag lookup checks.
constexpr uint32_t kPe32NtHeadersSize = kOptionalHeader + kPe32OptionalHeaderSize;
// The certificate table's entry (file offset, then size), from the PE headers' start.
constexpr uint32_t kCertificateTableOffsetField = kOptionalHeader + kCertificateEntryField;
constexpr uint32_t kCertificateTableSizeField = kCertificateTableOffsetField + 4;

// A section header: its name, then the raw data's size and file offset.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionNameSize = 8;
constexpr uint32_t kSectionRawSizeField = 16;
constexpr uint32_t kSectionRawOffsetField = 20;

// WIN_CERTIFICATE: length, revision and type come before the signed data.
constexpr uint32_t kCertificateHeaderSize = 8;

static_assert(kOptionalHeader == 24, "file header after the signature");
static_assert(kPe32NtHeadersSize == 248, "PE32 headers");
static_assert(kCertificateTableOffsetField == 152, "data directory entry 4");

}  // namespace vireo::pe
