#pragma once
// SHA-256 of bytes given in pieces, as lowercase hex: what the packer's record
// and the tagging server's stub and ETag digests are made of.

#include <openssl/evp.h>

#include <cstddef>
#include <memory>
#include <string>

namespace vireo::tools {

class Sha256 {
 public:
  // Throws ToolError when the digest cannot be started.
  Sha256();

  // Throws ToolError when the digest fails.
  void Add(const void* bytes, size_t size);

  // The digest of everything added, as 64 lowercase hex digits; the object is
  // spent afterwards. Throws ToolError when the digest fails.
  std::string FinishHex();

 private:
  struct ContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, ContextDeleter> context_;
};

}  // namespace vireo::tools
