// Feeds arbitrary text to the manifest reader of a prepared release: the
// manifest comes back from another machine with the signatures. Beyond not
// crashing, the reader either refuses the text with a ReleaseError or returns
// a release whose own manifest reads back as the same release.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/release/prepared_release.h"
#include "tools/release/release_error.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vireo::release::ParseManifest;
  using vireo::release::PreparedRelease;
  const std::string text(reinterpret_cast<const char*>(data), size);
  PreparedRelease prepared;
  try {
    prepared = ParseManifest(text, "manifest.txt");
  } catch (const vireo::release::ReleaseError&) {
    return 0;
  }
  Require(!prepared.stub.empty() && prepared.stub_sha256.size() == 64 &&
          !prepared.hashes.empty() && prepared.hashes.size() <= 2);
  const PreparedRelease again =
      ParseManifest(vireo::release::FormatManifest(prepared, "prepared"), "manifest.txt");
  Require(again.stub == prepared.stub && again.stub_sha256 == prepared.stub_sha256 &&
          again.arch == prepared.arch && again.hashes == prepared.hashes);
  return 0;
}
