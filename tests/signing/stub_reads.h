#pragma once
// What the stub passes on from an image, through its own tag lookup: the
// tests' oracle for everything the tagger writes.

#include <cstdint>
#include <string>
#include <vector>

namespace vireo::test {

// What the stub's lookup reads from `image`, mapped as the stub maps it (whole
// pages), up to the first zero byte (all the stub passes on), or "<none>".
std::string StubReads(const std::vector<uint8_t>& image);

}  // namespace vireo::test
