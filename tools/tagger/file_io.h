#pragma once
// Whole-file reads and all-or-nothing writes for corvane-tag.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace vireo::tagger {

// Returns the contents of `path`, in a vector with room to pad it to whole
// 4 KiB pages without moving it (see ReadTagAsStub). Throws TagToolError naming
// the file and the reason when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path);

// Bytes owned elsewhere, written in order with others.
struct ByteRange {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Writes the concatenation of `pieces` as WriteFileAtomically writes bytes.
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<ByteRange>& pieces,
                         const std::filesystem::path& permissions_from);

// Writes `bytes` to a fresh temporary file in `path`'s folder and renames it
// over `path`, so that `path` is either complete or untouched. The new file
// gets the permissions of `permissions_from` when that exists. Throws
// TagToolError (leaving no temporary file) on failure.
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                         const std::filesystem::path& permissions_from);

}  // namespace vireo::tagger
