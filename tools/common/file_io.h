#pragma once
// Whole-file reads and writes for the release tools. Every failure throws
// ToolError naming the file and the reason.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace vireo::tools {

// Returns the contents of `path`, in a vector with room to pad it to whole
// 4 KiB pages without moving it (as the tagger views a stub the way the stub
// maps itself). A file that changes size while it is read is refused.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path);

// Bytes in memory owned elsewhere, e.g. written in order with others. (Not an
// HTTP range: that is tools/tag_server/byte_range.h.)
struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Writes the concatenation of `pieces` to a fresh temporary file in `path`'s
// folder, syncs it and renames it over `path`, so that `path` is either
// complete or untouched; no temporary file is left on failure. The new file
// gets the permissions of `permissions_from` when that names an existing file,
// or else those of any new file (0666 less the umask).
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<ByteSpan>& pieces,
                         const std::filesystem::path& permissions_from = {});

// The same for one vector of bytes.
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                         const std::filesystem::path& permissions_from = {});

// Writes the `size` bytes at `bytes` to `path`, replacing it in place.
void WriteWholeFile(const std::filesystem::path& path, const uint8_t* bytes, size_t size);

}  // namespace vireo::tools
