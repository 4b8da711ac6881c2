#pragma once
// The commands that read an existing payload file: "list" and "extract".

#include <filesystem>

namespace vireo::packer {

// Prints the members of the payload in `payload` (size and name), marking the
// program the stub would start. Returns the exit status (0). Throws
// PackerError when the payload does not decode to a tar archive the stub reads.
int RunList(const std::filesystem::path& payload);

// Writes the members of the payload in `payload` into `directory`, created
// when missing. Returns the exit status (0). Throws PackerError, before any
// file is written, when the payload does not decode or a member name is one
// the packer would refuse.
int RunExtract(const std::filesystem::path& payload, const std::filesystem::path& directory);

}  // namespace vireo::packer
