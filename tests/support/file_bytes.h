#pragma once
// Whole-file reads and writes for tests that copy, stamp or corrupt files.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace vireo::test {

// Every byte of `path`. Throws std::runtime_error when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);

// Replaces (or creates) `path` with exactly `bytes`. Throws std::runtime_error
// when it cannot be written; the file may then be partly written.
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace vireo::test
