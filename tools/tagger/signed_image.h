#pragma once
// A signed PE image, 32-bit (PE32) or 64-bit (PE32+), as tagging sees it:
// headers to update and one certificate table entry at the end of the file.

#include <cstdint>
#include <vector>

#include "tools/common/file_io.h"

namespace vireo::tagger {

struct SignedImage {
  uint32_t pe_header = 0;           // file offset of the PE signature
  uint32_t nt_headers_end = 0;      // where the optional header with 16 data directories ends
  uint32_t checksum_field = 0;      // file offset of the optional header's CheckSum
  uint32_t certificate_entry = 0;   // file offset of data directory entry 4 (offset, size)
  uint32_t table_offset = 0;        // file offset of the certificate table
  uint32_t signed_data_offset = 0;  // of the PKCS#7 block, after the WIN_CERTIFICATE header
  uint32_t signed_data_size = 0;    // of the PKCS#7 block's DER element
};

// Locates the signature block of `file`. Throws TagToolError, naming the
// reason, for anything but a PE image the stub's lookup reads (PE32+ for
// machine AMD64, PE32 for any other) with a certificate table that ends the
// file and holds one PKCS#7 entry. Bytes
// after the DER block inside that entry are not kept by WithSignedData.
// Reads only the DOS and PE headers, the section table and the certificate
// table, so `file` may be a view in which only those are filled in.
SignedImage ParseSignedImage(tools::ByteSpan file);
inline SignedImage ParseSignedImage(const std::vector<uint8_t>& file) {
  return ParseSignedImage(tools::ByteSpan{file.data(), file.size()});
}

// The certificate table that holds exactly one entry with `signed_data`:
// the WIN_CERTIFICATE header, the block, zeros up to a multiple of 8 bytes.
// Throws TagToolError when the table at `table_offset` would take the file
// to 4 GiB or more.
std::vector<uint8_t> CertificateTableFor(const std::vector<uint8_t>& signed_data,
                                         uint32_t table_offset);

// `file` (taken over, not copied: stubs run to hundreds of megabytes) with its
// certificate table replaced by exactly one entry holding `signed_data`,
// zero-padded to a multiple of 8 bytes, and the entry's length, data directory
// entry 4's size and the PE checksum set to match. The table stays where it
// was, so the signed part of the image is unchanged.
std::vector<uint8_t> WithSignedData(std::vector<uint8_t> file, const SignedImage& image,
                                    const std::vector<uint8_t>& signed_data);

}  // namespace vireo::tagger
