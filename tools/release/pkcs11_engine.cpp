#include "tools/release/pkcs11_engine.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <filesystem>

#include "tools/release/release_error.h"

namespace vireo::release {
namespace {

// OpenSSL_version(OPENSSL_ENGINES_DIR) reads 'ENGINESDIR: "/path"'.
std::string BuiltInEnginesFolder() {
  const std::string text = OpenSSL_version(OPENSSL_ENGINES_DIR);
  const size_t open = text.find('"');
  const size_t close = text.rfind('"');
  if (open == std::string::npos || close <= open) return "";
  return text.substr(open + 1, close - open - 1);
}

}  // namespace

std::string Pkcs11EnginePath() {
  const char* folder = std::getenv("OPENSSL_ENGINES");
  return (folder && *folder ? std::string(folder) : BuiltInEnginesFolder()) + "/pkcs11.so";
}

void CheckPkcs11EngineInstalled() {
  const std::string path = Pkcs11EnginePath();
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    throw ReleaseError("osslsigncode signs with a key on a token through OpenSSL's PKCS#11 "
                       "engine, which is not installed (no " + path +
                       "; Debian's package libengine-pkcs11-openssl has it)");
  }
}

}  // namespace vireo::release
