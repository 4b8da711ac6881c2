#include "tools/tagger/tag_certificate.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "base/byte_order.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

namespace {

constexpr char kCommonName[] = "Corvane distribution tag (not a signing certificate)";
// The certificate is never validated; a fixed period keeps it from depending
// on the clock.
constexpr char kNotBefore[] = "20000101000000Z";
constexpr char kNotAfter[] = "20991231235959Z";
constexpr int kSerialBytes = 16;
// The carrier's Ed25519 key, fixed, and Ed25519 signatures are deterministic:
// a tag always gets the same certificate, so set and set-many write the same
// bytes, and a release tagged again comes out identical. The private key needs
// no secrecy: nothing ever trusts the certificate.
constexpr uint8_t kCarrierKeySeed[32] = {
    0x43, 0x6F, 0x72, 0x76, 0x61, 0x6E, 0x65, 0x20, 0x74, 0x61, 0x67, 0x20, 0x63, 0x61, 0x72, 0x72,
    0x69, 0x65, 0x72, 0x20, 0x6B, 0x65, 0x79, 0x2C, 0x20, 0x6E, 0x6F, 0x74, 0x20, 0x61, 0x20, 0x21};

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
  void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter<T, Free>>;

using Key = OpenSslPtr<EVP_PKEY, EVP_PKEY_free>;
using Certificate = OpenSslPtr<X509, X509_free>;
using Object = OpenSslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;
using OctetString = OpenSslPtr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Extension = OpenSslPtr<X509_EXTENSION, X509_EXTENSION_free>;
using BigNumber = OpenSslPtr<BIGNUM, BN_free>;

void Require(bool ok, const char* step) {
  if (!ok) throw TagToolError(std::string("cannot make the tag certificate: ") + step + " failed");
}

// The serial number comes from the record area's digest: distinct tags give
// distinct certificates, the same tag the same one.
void SetSerial(X509* certificate, const std::vector<uint8_t>& area) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(area.data(), area.size(), digest);
  digest[0] &= 0x7F;  // a positive INTEGER
  digest[0] |= 0x40;  // and no shorter than the others
  BigNumber number(BN_bin2bn(digest, kSerialBytes, nullptr));
  Require(number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate)),
          "setting the serial number");
}

// The carrier key, made once: deriving its public half is a good part of a
// certificate's cost, and the tagging server makes one per new tag.
const Key& CarrierKey() {
  static const Key key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, kCarrierKeySeed,
                                                    sizeof(kCarrierKeySeed)));
  Require(key != nullptr, "loading the Ed25519 key");
  return key;
}

}  // namespace

std::vector<uint8_t> TagRecordArea(const std::string& tag) {
  const size_t record_size = kTagRecordHeaderSize + tag.size();
  std::vector<uint8_t> area((record_size + kRecordAreaUnit - 1) / kRecordAreaUnit * kRecordAreaUnit,
                            0);
  std::copy(std::begin(kTagRecordMagic), std::end(kTagRecordMagic), area.begin());
  WriteBigEndian16(area.data() + kTagRecordMagicSize, static_cast<uint16_t>(tag.size()));
  std::copy(tag.begin(), tag.end(), area.begin() + kTagRecordHeaderSize);
  return area;
}

std::vector<uint8_t> MakeTagCertificate(const std::string& tag) {
  const Key& key = CarrierKey();
  const std::vector<uint8_t> area = TagRecordArea(tag);

  Certificate certificate(X509_new());
  Require(certificate && X509_set_version(certificate.get(), X509_VERSION_3), "X509_new");
  SetSerial(certificate.get(), area);

  X509_NAME* name = X509_get_subject_name(certificate.get());
  Require(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                     reinterpret_cast<const unsigned char*>(kCommonName), -1, -1,
                                     0) == 1,
          "setting the name");
  Require(X509_set_issuer_name(certificate.get(), name) == 1, "setting the issuer");
  Require(ASN1_TIME_set_string_X509(X509_getm_notBefore(certificate.get()), kNotBefore) == 1 &&
              ASN1_TIME_set_string_X509(X509_getm_notAfter(certificate.get()), kNotAfter) == 1,
          "setting the validity");
  Require(X509_set_pubkey(certificate.get(), key.get()) == 1, "setting the public key");

  Object oid(OBJ_txt2obj(kTagExtensionOid, 1));
  OctetString value(ASN1_OCTET_STRING_new());
  Require(oid && value &&
              ASN1_OCTET_STRING_set(value.get(), area.data(), static_cast<int>(area.size())),
          "making the tag extension");
  Extension extension(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()));
  Require(extension && X509_add_ext(certificate.get(), extension.get(), -1) == 1,
          "adding the tag extension");

  // Ed25519 hashes the message itself: no digest is named.
  Require(X509_sign(certificate.get(), key.get(), nullptr) > 0, "signing");
  const int size = i2d_X509(certificate.get(), nullptr);
  Require(size > 0, "encoding");
  std::vector<uint8_t> der(static_cast<size_t>(size));
  unsigned char* cursor = der.data();
  Require(i2d_X509(certificate.get(), &cursor) == size, "encoding");
  return der;
}

bool CarriesTagRecord(const std::vector<uint8_t>& der) {
  return std::search(der.begin(), der.end(), std::begin(kTagRecordMagic),
                     std::end(kTagRecordMagic)) != der.end();
}

}  // namespace vireo::tagger
