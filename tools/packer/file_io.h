#pragma once
// Whole-file reads and writes for the packer.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace vireo::packer {

// Returns the contents of `path`. Throws PackerError naming the file and the
// reason when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path);

// Writes `bytes` to a temporary file next to `path` and renames it over
// `path`, so that `path` is either complete or untouched. Throws PackerError
// (leaving no temporary file) on failure.
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Writes `bytes` to `path`, replacing it. Throws PackerError on failure.
void WriteWholeFile(const std::filesystem::path& path, const uint8_t* bytes, size_t size);

}  // namespace vireo::packer
