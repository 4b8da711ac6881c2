#include "tools/tagger/tag_certificate.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>

#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

namespace {

constexpr char kMagic[] = "Wisk2.0Vireo";
constexpr size_t kMagicSize = sizeof(kMagic) - 1;
constexpr char kCommonName[] = "Corvane distribution tag (not a signing certificate)";
// The certificate is never validated; a fixed period keeps it from depending
// on the clock.
constexpr char kNotBefore[] = "20000101000000Z";
constexpr char kNotAfter[] = "20991231235959Z";
constexpr int kSerialBytes = 16;

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

void SetSerial(X509* certificate) {
  unsigned char random[kSerialBytes];
  Require(RAND_bytes(random, sizeof(random)) == 1, "RAND_bytes");
  random[0] &= 0x7F;  // a positive INTEGER
  random[0] |= 0x40;  // and no shorter than the others
  BigNumber number(BN_bin2bn(random, sizeof(random), nullptr));
  Require(number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate)),
          "setting the serial number");
}

}  // namespace

std::vector<uint8_t> TagRecordArea(const std::string& tag) {
  std::vector<uint8_t> area(kMagic, kMagic + kMagicSize);
  area.push_back(static_cast<uint8_t>(tag.size() >> 8));
  area.push_back(static_cast<uint8_t>(tag.size()));
  area.insert(area.end(), tag.begin(), tag.end());
  area.resize((area.size() + kRecordAreaUnit - 1) / kRecordAreaUnit * kRecordAreaUnit, 0);
  return area;
}

std::vector<uint8_t> MakeTagCertificate(const std::string& tag) {
  Key key(EVP_EC_gen("P-256"));
  Require(key != nullptr, "making a P-256 key");

  Certificate certificate(X509_new());
  Require(certificate && X509_set_version(certificate.get(), X509_VERSION_3), "X509_new");
  SetSerial(certificate.get());

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

  const std::vector<uint8_t> area = TagRecordArea(tag);
  Object oid(OBJ_txt2obj(kTagExtensionOid, 1));
  OctetString value(ASN1_OCTET_STRING_new());
  Require(oid && value &&
              ASN1_OCTET_STRING_set(value.get(), area.data(), static_cast<int>(area.size())),
          "making the tag extension");
  Extension extension(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()));
  Require(extension && X509_add_ext(certificate.get(), extension.get(), -1) == 1,
          "adding the tag extension");

  Require(X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0, "signing");
  const int size = i2d_X509(certificate.get(), nullptr);
  Require(size > 0, "encoding");
  std::vector<uint8_t> der(static_cast<size_t>(size));
  unsigned char* cursor = der.data();
  Require(i2d_X509(certificate.get(), &cursor) == size, "encoding");
  return der;
}

bool CarriesTagRecord(const std::vector<uint8_t>& der) {
  return std::search(der.begin(), der.end(), kMagic, kMagic + kMagicSize) != der.end();
}

}  // namespace vireo::tagger
