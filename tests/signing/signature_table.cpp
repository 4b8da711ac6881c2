#include "tests/signing/signature_table.h"

#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "tag/tag_record_format.h"
#include "tests/support/pe_image.h"

namespace vireo::test {

namespace {

constexpr size_t kChecksumField = 88;  // from the PE signature

std::vector<uint8_t> TableBytes(const std::vector<uint8_t>& image) {
  const CertificateTableFacts facts = ReadCertificateTableFacts(image);
  return std::vector<uint8_t>(image.begin() + facts.offset,
                              image.begin() + facts.offset + facts.size);
}

}  // namespace

CertificateTableFacts ReadCertificateTableFacts(const std::vector<uint8_t>& image) {
  const size_t entry = CertificateEntryOffset(image);
  CertificateTableFacts facts;
  facts.offset = ReadLe32(image, entry);
  facts.size = ReadLe32(image, entry + 4);
  if (facts.offset == 0 || static_cast<uint64_t>(facts.offset) + facts.size > image.size() ||
      facts.size < 12) {
    throw std::runtime_error("no certificate table inside the file");
  }
  facts.entry_length = ReadLe32(image, facts.offset);
  facts.revision = ReadLe16(image, facts.offset + 4);
  facts.type = ReadLe16(image, facts.offset + 6);

  const size_t der = facts.offset + 8;
  if (image[der] != 0x30) throw std::runtime_error("the signature is not a DER sequence");
  size_t header = 2;
  size_t length = image[der + 1];
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    header += count;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | image[der + 2 + i];
  }
  facts.der_size = header + length;
  const size_t table_end = facts.offset + facts.size;
  if (der + facts.der_size > table_end) {
    throw std::runtime_error("the DER element runs past the table");
  }
  facts.after_der.assign(image.begin() + der + facts.der_size, image.begin() + table_end);
  return facts;
}

std::string StrictTableProblems(const std::vector<uint8_t>& image) {
  const CertificateTableFacts facts = ReadCertificateTableFacts(image);
  std::string problems;
  if (facts.offset + facts.size != image.size()) problems += "table does not end the file; ";
  if (facts.entry_length != facts.size) problems += "entry length differs from the table size; ";
  if (facts.revision != 0x0200 || facts.type != 0x0002) problems += "not a PKCS#7 entry; ";
  if (facts.size % 8 != 0) problems += "table size not a multiple of 8; ";
  if (facts.after_der.size() > 7) {
    problems += std::to_string(facts.after_der.size()) + " bytes follow the DER element; ";
  }
  if (std::any_of(facts.after_der.begin(), facts.after_der.end(),
                  [](uint8_t b) { return b != 0; })) {
    problems += "non-zero bytes follow the DER element; ";
  }
  return problems;
}

uint32_t ComputeChecksum(const std::vector<uint8_t>& image) {
  const size_t field = PeHeaderOffset(image) + kChecksumField;
  uint32_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    uint32_t word = image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
    if (i == field || i == field + 2) word = 0;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return (sum & 0xFFFF) + static_cast<uint32_t>(image.size());
}

uint32_t StoredChecksum(const std::vector<uint8_t>& image) {
  return ReadLe32(image, PeHeaderOffset(image) + kChecksumField);
}

namespace {

struct Pkcs7Deleter {
  void operator()(PKCS7* p) const { PKCS7_free(p); }
};
using Pkcs7 = std::unique_ptr<PKCS7, Pkcs7Deleter>;

Pkcs7 ParseSignature(const std::vector<uint8_t>& image) {
  const CertificateTableFacts facts = ReadCertificateTableFacts(image);
  const unsigned char* cursor = image.data() + facts.offset + 8;
  Pkcs7 pkcs7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(facts.der_size)));
  if (!pkcs7 || !PKCS7_type_is_signed(pkcs7.get())) {
    throw std::runtime_error("the signature does not parse as PKCS#7 SignedData");
  }
  return pkcs7;
}

template <typename T>
std::vector<uint8_t> Encode(const T* value, int (*encode)(const T*, unsigned char**)) {
  unsigned char* der = nullptr;
  const int size = encode(value, &der);
  if (size <= 0) throw std::runtime_error("cannot re-encode a part of the signature");
  std::vector<uint8_t> bytes(der, der + size);
  OPENSSL_free(der);
  return bytes;
}

}  // namespace

std::vector<std::vector<uint8_t>> SignatureCertificates(const std::vector<uint8_t>& image) {
  const Pkcs7 pkcs7 = ParseSignature(image);
  std::vector<std::vector<uint8_t>> certificates;
  STACK_OF(X509)* stack = pkcs7->d.sign->cert;
  for (int i = 0; stack && i < sk_X509_num(stack); ++i) {
    certificates.push_back(Encode<X509>(sk_X509_value(stack, i), i2d_X509));
  }
  return certificates;
}

SignatureWithoutCertificates ReadSignatureWithoutCertificates(const std::vector<uint8_t>& image) {
  const Pkcs7 pkcs7 = ParseSignature(image);
  SignatureWithoutCertificates parts;
  parts.content = Encode<PKCS7>(pkcs7->d.sign->contents, i2d_PKCS7);
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(pkcs7.get());
  for (int i = 0; signers && i < sk_PKCS7_SIGNER_INFO_num(signers); ++i) {
    parts.signer_infos.push_back(
        Encode<PKCS7_SIGNER_INFO>(sk_PKCS7_SIGNER_INFO_value(signers, i), i2d_PKCS7_SIGNER_INFO));
  }
  return parts;
}

size_t MagicCount(const std::vector<uint8_t>& image) {
  const std::vector<uint8_t> table = TableBytes(image);
  size_t count = 0;
  for (auto at = table.begin();
       (at = std::search(at, table.end(), std::begin(kTagRecordMagic),
                         std::end(kTagRecordMagic))) != table.end();
       ++at) {
    ++count;
  }
  return count;
}

}  // namespace vireo::test
