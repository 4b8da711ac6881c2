#include "tools/release/token_signer.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <vector>

#include "tools/common/file_io.h"
#include "tools/release/pkcs11_module.h"
#include "tools/release/release_error.h"

namespace vireo::release {
namespace {

using Bytes = std::vector<uint8_t>;

struct OpenSslDeleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
  void operator()(BIO* bio) const { BIO_free(bio); }
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
using UniqueX509 = std::unique_ptr<X509, OpenSslDeleter>;

// A text field of the token's information: fixed size, padded with blanks.
std::string TokenText(const CK_UTF8CHAR* field, size_t size) {
  std::string text(reinterpret_cast<const char*>(field), size);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string Subject(X509* certificate) {
  char line[512];
  X509_NAME_oneline(X509_get_subject_name(certificate), line, sizeof line);
  return line;
}

// The bytes of `type` of `object`; false when the token does not give it.
bool GetAttribute(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                  CK_ATTRIBUTE_TYPE type, Bytes* value) {
  CK_ATTRIBUTE attribute = {type, nullptr, 0};
  if (p11->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK ||
      attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
    return false;
  }
  value->resize(attribute.ulValueLen);
  attribute.pValue = value->data();
  return p11->C_GetAttributeValue(session, object, &attribute, 1) == CKR_OK;
}

// The objects matching `attributes`, at most `limit` of them.
std::vector<CK_OBJECT_HANDLE> FindObjects(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session,
                                          CK_ATTRIBUTE* attributes, CK_ULONG count,
                                          CK_ULONG limit) {
  CK_RV result = p11->C_FindObjectsInit(session, attributes, count);
  if (result != CKR_OK) {
    throw ReleaseError("cannot search the token: " + DescribePkcs11Result(result));
  }
  std::vector<CK_OBJECT_HANDLE> found(limit);
  CK_ULONG found_count = 0;
  result = p11->C_FindObjects(session, found.data(), limit, &found_count);
  p11->C_FindObjectsFinal(session);
  if (result != CKR_OK) {
    throw ReleaseError("cannot search the token: " + DescribePkcs11Result(result));
  }
  found.resize(found_count);
  return found;
}

// The one token the URI names.
CK_SLOT_ID FindToken(const Pkcs11Module& module, const Pkcs11KeyUri& key_uri,
                     CK_TOKEN_INFO* info) {
  CK_FUNCTION_LIST* p11 = module.functions();
  CK_ULONG count = 0;
  CK_RV result = p11->C_GetSlotList(CK_TRUE, nullptr, &count);
  std::vector<CK_SLOT_ID> slots(count);
  if (result == CKR_OK && count > 0) result = p11->C_GetSlotList(CK_TRUE, slots.data(), &count);
  if (result != CKR_OK) {
    throw ReleaseError("the PKCS#11 module '" + module.path() +
                       "' lists no tokens: " + DescribePkcs11Result(result));
  }
  slots.resize(count);
  std::string present;
  std::string matching;
  std::vector<CK_SLOT_ID> matches;
  for (CK_SLOT_ID slot : slots) {
    CK_SLOT_INFO slot_info;
    CK_TOKEN_INFO token_info;
    if (p11->C_GetSlotInfo(slot, &slot_info) != CKR_OK ||
        p11->C_GetTokenInfo(slot, &token_info) != CKR_OK ||
        !(token_info.flags & CKF_TOKEN_INITIALIZED)) {
      continue;
    }
    const std::string label =
        "'" + TokenText(token_info.label, sizeof token_info.label) + "'";
    present += (present.empty() ? "" : ", ") + label;
    if (!key_uri.MatchesToken(slot_info, token_info)) continue;
    matching += (matching.empty() ? "" : ", ") + label;
    matches.push_back(slot);
    *info = token_info;
  }
  if (matches.empty()) {
    throw ReleaseError("no token matches the key URI '" + key_uri.text() + "' in '" +
                       module.path() + "' (" +
                       (present.empty() ? "no token is present" : "tokens present: " + present) +
                       ")");
  }
  if (matches.size() > 1) {
    throw ReleaseError("more than one token matches the key URI '" + key_uri.text() + "' (" +
                       matching + "): name one with token=, serial= or manufacturer=");
  }
  return matches[0];
}

void LogIn(CK_FUNCTION_LIST* p11, Pkcs11Session& session, const CK_TOKEN_INFO& info,
           const std::string& token, const std::string& pin) {
  const bool needs_login = info.flags & CKF_LOGIN_REQUIRED;
  if (pin.empty() && !needs_login) return;
  if (info.flags & CKF_USER_PIN_LOCKED) {
    throw ReleaseError("the PIN of token '" + token + "' is locked");
  }
  // One more wrong PIN would lock the token for good: let its owner try,
  // with the token's own tools, rather than a release.
  if (info.flags & CKF_USER_PIN_FINAL_TRY) {
    throw ReleaseError("token '" + token +
                       "' has one PIN attempt left: the release does not spend it");
  }
  CK_RV result;
  if (pin.empty()) {
    if (!(info.flags & CKF_PROTECTED_AUTHENTICATION_PATH)) {
      throw ReleaseError("token '" + token +
                         "' needs its PIN: give it with --pin-file FILE (- for standard input) "
                         "or --pin-env NAME");
    }
    // The PIN is entered on the reader's own keypad.
    result = p11->C_Login(session.get(), CKU_USER, nullptr, 0);
  } else {
    Bytes bytes(pin.begin(), pin.end());
    result = p11->C_Login(session.get(), CKU_USER, bytes.data(), bytes.size());
  }
  if (result == CKR_PIN_INCORRECT) throw ReleaseError("the PIN of token '" + token + "' is wrong");
  if (result == CKR_PIN_LOCKED) throw ReleaseError("the PIN of token '" + token + "' is locked");
  if (result != CKR_OK && result != CKR_USER_ALREADY_LOGGED_IN) {
    throw ReleaseError("cannot log in to token '" + token + "': " + DescribePkcs11Result(result));
  }
  if (result == CKR_OK) session.SetLoggedIn();
}

std::vector<UniqueX509> ReadCertificateFile(const std::string& path) {
  std::unique_ptr<BIO, OpenSslDeleter> bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) throw ReleaseError("cannot read the certificate file '" + path + "'");
  std::vector<UniqueX509> chain;
  while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    chain.emplace_back(certificate);
  }
  if (chain.empty()) {
    throw ReleaseError("the certificate file '" + path + "' holds no PEM certificate");
  }
  return chain;
}

std::vector<UniqueX509> TokenCertificates(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session,
                                          std::vector<Bytes>* ids, std::vector<Bytes>* labels) {
  CK_OBJECT_CLASS certificate_class = CKO_CERTIFICATE;
  CK_ATTRIBUTE query = {CKA_CLASS, &certificate_class, sizeof certificate_class};
  std::vector<UniqueX509> certificates;
  for (CK_OBJECT_HANDLE object : FindObjects(p11, session, &query, 1, 256)) {
    Bytes value;
    if (!GetAttribute(p11, session, object, CKA_VALUE, &value)) continue;
    const unsigned char* next = value.data();
    UniqueX509 certificate(d2i_X509(nullptr, &next, static_cast<long>(value.size())));
    if (!certificate) continue;
    Bytes id, label;
    GetAttribute(p11, session, object, CKA_ID, &id);
    GetAttribute(p11, session, object, CKA_LABEL, &label);
    certificates.push_back(std::move(certificate));
    ids->push_back(std::move(id));
    labels->push_back(std::move(label));
  }
  return certificates;
}

bool SelfIssued(X509* certificate) {
  return X509_check_issued(certificate, certificate) == X509_V_OK;
}

// The signer's certificate from the token, then its issuers up to the root.
std::vector<UniqueX509> TokenChain(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session,
                                   const Bytes& key_id, const Bytes& key_label,
                                   const std::string& token, const std::string& key) {
  std::vector<Bytes> ids, labels;
  std::vector<UniqueX509> certificates = TokenCertificates(p11, session, &ids, &labels);
  size_t signer = certificates.size();
  for (size_t i = 0; i < certificates.size() && signer == certificates.size(); ++i) {
    if (!key_id.empty() && ids[i] == key_id) signer = i;
  }
  for (size_t i = 0; i < certificates.size() && signer == certificates.size(); ++i) {
    if (!key_label.empty() && labels[i] == key_label) signer = i;
  }
  if (signer == certificates.size()) {
    throw ReleaseError("token '" + token + "' holds no certificate for the key '" + key +
                       "' (none with its id or label): give the certificate chain with --cert FILE");
  }
  std::vector<UniqueX509> chain;
  chain.push_back(std::move(certificates[signer]));
  while (!SelfIssued(chain.back().get())) {
    X509* issuer = nullptr;
    for (UniqueX509& candidate : certificates) {
      if (candidate && X509_check_issued(candidate.get(), chain.back().get()) == X509_V_OK) {
        issuer = candidate.get();
        break;
      }
    }
    // The root is the verifier's to trust, not the signature's to carry.
    if (!issuer || SelfIssued(issuer)) break;
    for (UniqueX509& candidate : certificates) {
      if (candidate.get() == issuer) chain.push_back(std::move(candidate));
    }
  }
  return chain;
}

void WriteChain(const std::vector<UniqueX509>& chain, const std::string& path) {
  std::string pem;
  for (const UniqueX509& certificate : chain) {
    std::unique_ptr<BIO, OpenSslDeleter> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate.get()) != 1) {
      throw ReleaseError("cannot write the token's certificate chain");
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    pem.append(data, static_cast<size_t>(size));
  }
  tools::WriteFileAtomically(path, Bytes(pem.begin(), pem.end()));
}

// A DER ECDSA signature from PKCS#11's r and s, each half of `raw`.
Bytes EcdsaSignatureAsDer(const Bytes& raw) {
  std::unique_ptr<ECDSA_SIG, OpenSslDeleter> signature(ECDSA_SIG_new());
  const int half = static_cast<int>(raw.size() / 2);
  BIGNUM* r = BN_bin2bn(raw.data(), half, nullptr);
  BIGNUM* s = BN_bin2bn(raw.data() + half, half, nullptr);
  if (!signature || !r || !s || ECDSA_SIG_set0(signature.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  const int size = i2d_ECDSA_SIG(signature.get(), nullptr);
  if (size <= 0) return {};
  Bytes der(static_cast<size_t>(size));
  unsigned char* next = der.data();
  i2d_ECDSA_SIG(signature.get(), &next);
  return der;
}

// True when `certificate`'s public key verifies what the token's key signs.
bool KeySignsFor(CK_FUNCTION_LIST* p11, Pkcs11Session& session, CK_OBJECT_HANDLE key,
                 X509* certificate, const std::string& pin, const std::string& token,
                 const std::string& key_name) {
  Bytes challenge(32);
  if (RAND_bytes(challenge.data(), static_cast<int>(challenge.size())) != 1) {
    throw ReleaseError("cannot make a challenge for the token's key");
  }
  Bytes type_bytes;
  CK_KEY_TYPE type = CKK_VENDOR_DEFINED;
  if (GetAttribute(p11, session.get(), key, CKA_KEY_TYPE, &type_bytes) &&
      type_bytes.size() == sizeof type) {
    type = *reinterpret_cast<const CK_KEY_TYPE*>(type_bytes.data());
  }
  CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
  Bytes input = challenge;
  if (type == CKK_EC) {
    // CKM_ECDSA signs a digest made outside the token.
    mechanism.mechanism = CKM_ECDSA;
    input.resize(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    EVP_Digest(challenge.data(), challenge.size(), input.data(), &size, EVP_sha256(), nullptr);
    input.resize(size);
  } else if (type != CKK_RSA) {
    throw ReleaseError("the key '" + key_name + "' on token '" + token +
                       "' is neither an RSA nor an EC key");
  }
  CK_RV result = p11->C_SignInit(session.get(), &mechanism, key);
  Bytes always_authenticate;
  if (result == CKR_OK &&
      GetAttribute(p11, session.get(), key, CKA_ALWAYS_AUTHENTICATE, &always_authenticate) &&
      !always_authenticate.empty() && always_authenticate[0]) {
    // Such a key wants the PIN again for every signature.
    Bytes bytes(pin.begin(), pin.end());
    result = p11->C_Login(session.get(), CKU_CONTEXT_SPECIFIC, bytes.data(), bytes.size());
  }
  CK_ULONG size = 0;
  if (result == CKR_OK) result = p11->C_Sign(session.get(), input.data(), input.size(), nullptr, &size);
  Bytes signature(size);
  if (result == CKR_OK) {
    result = p11->C_Sign(session.get(), input.data(), input.size(), signature.data(), &size);
  }
  if (result != CKR_OK) {
    throw ReleaseError("the key '" + key_name + "' on token '" + token +
                       "' does not sign: " + DescribePkcs11Result(result));
  }
  signature.resize(size);
  if (type == CKK_EC) signature = EcdsaSignatureAsDer(signature);

  EVP_PKEY* public_key = X509_get0_pubkey(certificate);
  std::unique_ptr<EVP_MD_CTX, OpenSslDeleter> context(EVP_MD_CTX_new());
  return public_key && context && !signature.empty() &&
         EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, public_key) == 1 &&
         EVP_DigestVerify(context.get(), signature.data(), signature.size(), challenge.data(),
                          challenge.size()) == 1;
}

}  // namespace

TokenSigner CheckTokenSigner(const std::string& module_path, Pkcs11KeyUri& key_uri,
                             const std::string& pin, const std::string& certificate_file,
                             const std::string& chain_out) {
  const Pkcs11Module module(module_path);
  CK_FUNCTION_LIST* p11 = module.functions();
  CK_TOKEN_INFO info;
  const CK_SLOT_ID slot = FindToken(module, key_uri, &info);
  TokenSigner signer;
  signer.token = TokenText(info.label, sizeof info.label);

  Pkcs11Session session(module, slot);
  LogIn(p11, session, info, signer.token, pin);

  CK_ULONG count = 0;
  CK_ATTRIBUTE* key_template = key_uri.KeyTemplate(&count);
  const std::vector<CK_OBJECT_HANDLE> keys = FindObjects(p11, session.get(), key_template, count, 2);
  if (keys.empty()) {
    throw ReleaseError("token '" + signer.token + "' holds no private key that matches '" +
                       key_uri.text() + "'");
  }
  if (keys.size() > 1) {
    throw ReleaseError("more than one private key on token '" + signer.token + "' matches '" +
                       key_uri.text() + "': name one with object= or id=");
  }
  Bytes id, label;
  GetAttribute(p11, session.get(), keys[0], CKA_ID, &id);
  GetAttribute(p11, session.get(), keys[0], CKA_LABEL, &label);
  signer.key = label.empty() ? "id " + Hex(id) : std::string(label.begin(), label.end());

  std::vector<UniqueX509> chain;
  if (certificate_file.empty()) {
    chain = TokenChain(p11, session.get(), id, label, signer.token, signer.key);
  } else {
    chain = ReadCertificateFile(certificate_file);
  }
  if (!KeySignsFor(p11, session, keys[0], chain.front().get(), pin, signer.token, signer.key)) {
    throw ReleaseError("the certificate " + Subject(chain.front().get()) +
                       (certificate_file.empty() ? " on the token"
                                                 : " in '" + certificate_file + "'") +
                       " does not match the key '" + signer.key + "' on token '" + signer.token +
                       "'");
  }
  if (certificate_file.empty()) {
    WriteChain(chain, chain_out);
    signer.chain_file = chain_out;
    signer.chain_from_token = true;
  } else {
    signer.chain_file = certificate_file;
  }
  return signer;
}

}  // namespace vireo::release
