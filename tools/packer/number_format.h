#pragma once
// Numbers as the packer prints them.

#include <cstdint>
#include <string>

namespace vireo::packer {

// `value` with thousands separated by commas, "174,714,880".
std::string WithThousands(uint64_t value);

// `part` as a percentage of `whole` with one decimal, "97.6%"; "-" for an empty whole.
std::string Percentage(uint64_t part, uint64_t whole);

}  // namespace vireo::packer
