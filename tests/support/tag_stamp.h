#pragma once
// Stamps a tag into a PE image the way a signed stub carries it, without
// signing: a certificate table that looks like a WIN_CERTIFICATE with PKCS#7
// data, holding the tag record, appended at the end of the file and entered as
// data directory entry 4. Portable; tests stamp copies of built programs.
//
// Typical use:
//   WriteFileBytes(copy, StampTag(ReadFileBytes(built_exe), "appguid=...&ap=x"));

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vireo::test {

// The record the reader looks for: the magic "Wisk2.0Vireo", the tag's length
// as two big-endian bytes, then the tag bytes as given (no terminator).
// Throws std::length_error for a tag longer than 65,535 bytes.
std::vector<uint8_t> TagRecord(const std::string& tag);
// The same record with `declared_length` in its length field whatever the
// tag's real size, for records whose length runs past the table or is 0.
std::vector<uint8_t> TagRecord(const std::string& tag, uint16_t declared_length);

// How CertificateTable lays out its bytes; the defaults look like a shipped stub.
struct CertificateTableShape {
  // The first two bytes of the signed data; 0x30 0x82 is a DER sequence with a
  // two-byte length, the only start the reader accepts.
  uint8_t der_start[2] = {0x30, 0x82};
  // Certificate-like bytes between the DER header and the contents. They never
  // hold the magic.
  size_t filler_before = 48;
  // Zero bytes after the contents: room for a longer tag.
  size_t zeros_after = 64;
  // Zero-pad the table to a multiple of 8 bytes, as signing tools do.
  bool pad_to_8 = true;
};

// A certificate table: WIN_CERTIFICATE header (length of the whole table,
// revision 0x0200, type 0x0002 = PKCS#7), the DER start with a two-byte length
// (saturated at 0xFFFF: the reader never parses it), filler, `contents` (for
// example one or more TagRecords), then zeros.
std::vector<uint8_t> CertificateTable(const std::vector<uint8_t>& contents,
                                      const CertificateTableShape& shape = {});

// Offset of `contents` inside a table made by CertificateTable with `shape`.
size_t CertificateTableContentsOffset(const CertificateTableShape& shape = {});

// A copy of `pe` whose certificate table is exactly `table`: a table the image
// already has at its end is dropped first (so stamping twice replaces the tag),
// the file is zero-padded to a multiple of 8, the table is appended and data
// directory entry 4 (PE32 or PE32+ place) is set to its offset and
// table.size(). The PE checksum is left alone. Throws std::invalid_argument for
// an image that is not PE or whose present table does not end the file.
std::vector<uint8_t> StampCertificateTable(const std::vector<uint8_t>& pe,
                                           const std::vector<uint8_t>& table);

// A copy of `pe` carrying `tag` as a distributor stamps it: the record of the
// raw tag bytes inside a default-shaped certificate table (see above). Any byte
// is allowed in `tag`, a double quote or zeros included. Replaces an earlier tag.
std::vector<uint8_t> StampTag(const std::vector<uint8_t>& pe, const std::string& tag);

}  // namespace vireo::test
