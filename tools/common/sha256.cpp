#include "tools/common/sha256.h"

#include "tools/common/tool_error.h"

namespace vireo::tools {

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
    throw ToolError("cannot start a SHA-256 digest");
  }
}

void Sha256::Add(const void* bytes, size_t size) {
  if (size != 0 && EVP_DigestUpdate(context_.get(), bytes, size) != 1) {
    throw ToolError("SHA-256 digest failed");
  }
}

std::string Sha256::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) {
    throw ToolError("SHA-256 digest failed");
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0xF];
  }
  return hex;
}

}  // namespace vireo::tools
