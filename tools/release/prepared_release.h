#pragma once
// A release prepared for signing on another machine (--prepare DIR): the
// finished unsigned stub, the data each signature is made from (as
// osslsigncode extract-data writes it), and manifest.txt, which records the
// stub's SHA-256 and the hash of each signature, and says what to run on the
// signing machine and back here. --attach reads the manifest back.

#include <string>
#include <vector>

#include "tools/release/stub_arch.h"

namespace vireo::release {

constexpr char kManifestName[] = "manifest.txt";

struct PreparedRelease {
  std::string stub = "unsigned.exe";  // in the folder
  std::string stub_sha256;            // 64 lowercase hex digits
  // The stub's processor: a manifest says "arch: x64" for the 64-bit stub
  // and nothing for the 32-bit one, as before there was a choice.
  StubArch arch = StubArch::kX86;
  // The hash of each signature ("sha1", "sha256") in the order they go in:
  // the first signs, each later one is nested in it.
  std::vector<std::string> hashes;
};

// "data-sha256.der": what the signature with `hash` is made from.
std::string DataFileName(const std::string& hash);
// "signature-sha256.der": where the signing machine is told to write it.
std::string SignatureFileName(const std::string& hash);

// The manifest of `prepared`, whose folder is `folder` (named in the
// commands it shows).
std::string FormatManifest(const PreparedRelease& prepared, const std::string& folder);

// The manifest in `text`. Throws ReleaseError naming `path` and the line when
// it is not one this tool wrote: an unknown field, a file name with a folder
// in it, a hash other than sha1 and sha256, a processor other than x86 and
// x64, a field missing.
PreparedRelease ParseManifest(const std::string& text, const std::string& path);

}  // namespace vireo::release
