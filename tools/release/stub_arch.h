#pragma once
// The processors a release stub is built for: the 32-bit stub (PE32, x86),
// which every Windows runs, and the 64-bit one (PE32+, x64). Their names on
// the command line and in a prepared manifest, and the check that a built
// image is the one asked for.

#include <cstdint>
#include <string>
#include <vector>

namespace vireo::release {

enum class StubArch { kX86, kX64 };

// "x86" or "x64": what --arch, ./build.sh stub --arch and a manifest's
// "arch:" field say.
const char* StubArchName(StubArch arch);

// "32-bit (PE32, x86)" or "64-bit (PE32+, x64)", for messages and the summary.
const char* DescribeStubArch(StubArch arch);

// The processor `name` names; false for any other name.
bool ParseStubArchName(const std::string& name, StubArch* arch);

// True when `image` is a PE image of `arch`: machine i386 with a PE32
// optional header, or machine AMD64 with a PE32+ one.
bool ImageIsFor(const std::vector<uint8_t>& image, StubArch arch);

}  // namespace vireo::release
