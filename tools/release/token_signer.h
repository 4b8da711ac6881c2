#pragma once
// The check a release makes of a signing key on a token before it builds
// anything: the module loads, exactly one token and one private key match
// the key URI, the PIN opens the token, and the key signs for the
// certificate the signature will carry. Each failure is refused with its
// own message, so that a release engineer never has to read osslsigncode's
// engine errors to tell a wrong PIN from a missing token.

#include <string>

#include "tools/release/pkcs11_key_uri.h"

namespace vireo::release {

struct TokenSigner {
  std::string token;       // the token's label
  std::string key;         // the key's label, or its id in hex when it has none
  std::string chain_file;  // PEM certificates, the signer's first, for osslsigncode -certs
  bool chain_from_token = false;
};

// Checks the key `key_uri` names through the module at `module_path`,
// logging in with `pin` ("" for none; refused when the token needs one).
// The certificate is the first one in `certificate_file`, which is then the
// chain as well; with "" it is the certificate the token holds for the key
// (the one with its id, or else its label), written with the issuers the
// token also holds (its root left out) to `chain_out`. The key signs a fresh
// challenge on the token, and the certificate's public key must verify it.
// Throws ReleaseError naming what failed; `chain_out` is then not written.
TokenSigner CheckTokenSigner(const std::string& module_path, Pkcs11KeyUri& key_uri,
                             const std::string& pin, const std::string& certificate_file,
                             const std::string& chain_out);

}  // namespace vireo::release
