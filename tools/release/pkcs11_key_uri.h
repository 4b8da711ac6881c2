#pragma once
// The RFC 7512 URI of a signing key on a token ("pkcs11:token=...;
// object=...;type=private"), parsed once by p11-kit: which tokens and which
// objects on them it names. The PIN never travels in it.

#include <p11-kit/uri.h>

#include <memory>
#include <string>

namespace vireo::release {

class Pkcs11KeyUri {
 public:
  // Parses `text`. Throws tools::UsageError when it is no PKCS#11 URI, holds an
  // attribute p11-kit does not know, names an object that is not a private
  // key (type=cert), or carries a PIN (pin-value, pin-source): the PIN is read
  // from a file, standard input or the environment, never from a command line.
  explicit Pkcs11KeyUri(const std::string& text);

  const std::string& text() const { return text_; }

  // True when the token in `slot` with `token` matches the URI's slot and
  // token attributes (all match when it names none).
  bool MatchesToken(const CK_SLOT_INFO& slot, const CK_TOKEN_INFO& token) const;

  // The URI's object attributes (label, id) with the class of a private key:
  // a template for C_FindObjectsInit, valid as long as this object.
  CK_ATTRIBUTE* KeyTemplate(CK_ULONG* count);

 private:
  struct UriDeleter {
    void operator()(P11KitUri* uri) const { p11_kit_uri_free(uri); }
  };
  std::string text_;
  std::unique_ptr<P11KitUri, UriDeleter> uri_;
  CK_OBJECT_CLASS private_key_class_ = CKO_PRIVATE_KEY;
};

}  // namespace vireo::release
