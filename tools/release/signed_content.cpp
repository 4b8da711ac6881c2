#include "tools/release/signed_content.h"

#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <memory>

#include "tools/release/release_error.h"

namespace vireo::release {
namespace {

struct Pkcs7Deleter {
  void operator()(PKCS7* pkcs7) const { PKCS7_free(pkcs7); }
};

}  // namespace

SignedContent ReadSignedContent(const std::vector<uint8_t>& der, const std::string& what) {
  const unsigned char* next = der.data();
  std::unique_ptr<PKCS7, Pkcs7Deleter> pkcs7(
      d2i_PKCS7(nullptr, &next, static_cast<long>(der.size())));
  if (!pkcs7 || next != der.data() + der.size() || !PKCS7_type_is_signed(pkcs7.get()) ||
      !pkcs7->d.sign || !pkcs7->d.sign->contents) {
    throw ReleaseError(what + " is not a PKCS#7 signature in DER");
  }
  SignedContent read;
  const int size = i2d_PKCS7(pkcs7->d.sign->contents, nullptr);
  if (size <= 0) throw ReleaseError(what + " carries no signed content");
  read.content.resize(static_cast<size_t>(size));
  unsigned char* out = read.content.data();
  i2d_PKCS7(pkcs7->d.sign->contents, &out);
  const STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(pkcs7.get());
  read.signers = signers ? sk_PKCS7_SIGNER_INFO_num(signers) : 0;
  return read;
}

}  // namespace vireo::release
