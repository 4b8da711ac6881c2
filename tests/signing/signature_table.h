#pragma once
// An independent look at a signed image's certificate table, written from the
// PE and PKCS#7 layouts rather than from corvane-tag's code, so that the tests
// do not check the tool against itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vireo::test {

struct CertificateTableFacts {
  uint32_t offset = 0;  // data directory entry 4
  uint32_t size = 0;
  uint32_t entry_length = 0;  // WIN_CERTIFICATE dwLength
  uint16_t revision = 0;
  uint16_t type = 0;
  size_t der_size = 0;             // the PKCS#7 element, header included
  std::vector<uint8_t> after_der;  // the table's bytes after the element
};

// Facts of the certificate table of `image` (PE32 or PE32+). Throws
// std::runtime_error when the table is missing, outside the file or too short
// for its element.
CertificateTableFacts ReadCertificateTableFacts(const std::vector<uint8_t>& image);

// Empty when the table passes the strictest verification: it ends the file,
// holds one PKCS#7 entry whose length covers the table, and nothing but at
// most 7 zero bytes follows the DER element, keeping the table 8-byte aligned.
// Otherwise what is wrong.
std::string StrictTableProblems(const std::vector<uint8_t>& image);

// The PE checksum as the loader computes it, and the one stored in the image.
uint32_t ComputeChecksum(const std::vector<uint8_t>& image);
uint32_t StoredChecksum(const std::vector<uint8_t>& image);

// The DER of each certificate in the image's PKCS#7 certificate set, as
// OpenSSL reads it, in order. Throws std::runtime_error when it does not parse.
std::vector<std::vector<uint8_t>> SignatureCertificates(const std::vector<uint8_t>& image);

// Everything of the image's PKCS#7 SignedData but its certificate set, as
// OpenSSL reads and re-encodes it: the signed content and each signer info
// whole, with its unsigned attributes (time-stamp countersignatures, nested
// signatures, any other). Throws std::runtime_error when it does not parse.
struct SignatureWithoutCertificates {
  std::vector<uint8_t> content;
  std::vector<std::vector<uint8_t>> signer_infos;
  bool operator==(const SignatureWithoutCertificates& other) const {
    return content == other.content && signer_infos == other.signer_infos;
  }
};
SignatureWithoutCertificates ReadSignatureWithoutCertificates(const std::vector<uint8_t>& image);

// How often the tag magic occurs in the image's certificate table.
size_t MagicCount(const std::vector<uint8_t>& image);

}  // namespace vireo::test
