#pragma once
// The "pack" command: a folder or tar file into a payload resource file.

#include <filesystem>
#include <string>

namespace vireo::packer {

struct PackOptions {
  std::filesystem::path input;
  std::filesystem::path output;
  // Member to put first so that the stub starts it; empty for none.
  std::string launch;
  bool allow_no_exe = false;
  // Keep `output` as it is when it was packed, by this very packer, from the
  // same tar image (see pack_record.h); otherwise pack and record it.
  bool if_changed = false;
  // Threads of the LZMA encoder (1 or 2); the payload's bytes do not depend on it.
  int threads = 2;
};

// Packs `options.input` into `options.output`, printing the program the stub
// will start and a summary. Returns the exit status (0). Throws PackerError,
// with no output file written, when the input cannot be packed or the encoded
// payload does not decode back to the tar image.
// With `if_changed`, a payload packed from the same files by the same packer
// is left untouched, time included, so that nothing that depends on it is
// rebuilt.
int RunPack(const PackOptions& options);

}  // namespace vireo::packer
