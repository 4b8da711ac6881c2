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
};

// Packs `options.input` into `options.output`, printing the program the stub
// will start and a summary. Returns the exit status (0). Throws PackerError,
// with no output file written, when the input cannot be packed or the encoded
// payload does not decode back to the tar image.
int RunPack(const PackOptions& options);

}  // namespace vireo::packer
