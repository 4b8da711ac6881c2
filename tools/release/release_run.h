#pragma once
// A release stub made, start to end: built from the payload, signed (with a
// throwaway test certificate when no signer is given), tagged, verified by
// two verifiers and the stub's own tag lookup, and only then written to the
// output file, with a summary on standard output. With --arch both, the
// 32-bit and the 64-bit stub each go through every step, and neither is
// written unless both passed.

#include <string>

#include "tools/release/release_options.h"

namespace vireo::release {

// Where the release works.
struct ReleaseFolders {
  std::string build_sh;   // the repository's build.sh, whose stub command builds the stub
  std::string build_dir;  // its build folder: release/ and release-test-certificate/ go there
};

// Runs the release `options` describe. Throws ReleaseError (or the tagger's
// TagToolError) naming the step that failed; no output file is then
// written, and the step's report is left in build_dir/release (the 64-bit
// stub's in build_dir/release/x64).
void RunRelease(const ReleaseOptions& options, const ReleaseFolders& folders);

}  // namespace vireo::release
