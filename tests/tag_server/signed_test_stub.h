#pragma once
// A signed stub of about `megabytes` MB for tests of the server in process,
// written to `path` (its folder also holds the signing test's certificate).

#include <filesystem>

namespace vireo::test {

void WriteSignedTestStub(const std::filesystem::path& path, int megabytes);

}  // namespace vireo::test
