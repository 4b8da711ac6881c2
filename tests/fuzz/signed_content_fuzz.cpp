// Feeds arbitrary bytes, as a detached signature brought back from the signing
// machine, to the reader of its signed content. Beyond not crashing, it either
// refuses them with a ReleaseError or returns some content.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tools/release/release_error.h"
#include "tools/release/signed_content.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> der(data, data + size);
  try {
    const vireo::release::SignedContent signed_content =
        vireo::release::ReadSignedContent(der, "signature-sha256.der");
    if (signed_content.content.empty() || signed_content.signers < 0) std::abort();
  } catch (const vireo::release::ReleaseError&) {
  }
  return 0;
}
