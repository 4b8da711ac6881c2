#pragma once
// The OpenSSL engine through which osslsigncode signs with a key on a token.
// It is a package of its own; without it osslsigncode fails only once the
// stub is built, with no word of why, so the release looks for it first.

#include <string>

namespace vireo::release {

// The engine's file as OpenSSL would load it for osslsigncode: "pkcs11.so" in
// the folder OPENSSL_ENGINES names, or else in the one OpenSSL was built with.
std::string Pkcs11EnginePath();

// Throws ReleaseError naming the path and the package when the engine is not
// there.
void CheckPkcs11EngineInstalled();

}  // namespace vireo::release
