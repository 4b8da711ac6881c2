#include "tools/packer/number_format.h"

#include <cstdio>

namespace vireo::packer {

std::string WithThousands(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return digits;
}

std::string Percentage(uint64_t part, uint64_t whole) {
  if (whole == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f%%", 100.0 * static_cast<double>(part) / whole);
  return text;
}

}  // namespace vireo::packer
