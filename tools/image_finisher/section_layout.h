#pragma once
// The raw layout of a PE image's sections (PE32 or PE32+) as the format
// requires it: every section's SizeOfRawData a multiple of FileAlignment, the
// sections' raw data one after another from SizeOfHeaders with no gap, and
// nothing after the last. The linker leaves the resource section's raw size at its
// virtual size, which a verifier that hashes the image by its section table
// reads differently from one that hashes the file from start to end.

#include <cstdint>
#include <string>
#include <vector>

namespace vireo::finisher {

struct LayoutResult {
  bool ok = false;
  bool changed = false;  // raw sizes were padded and the checksum set again
  std::string problem;   // why the image cannot be made well-formed
};

// Pads each section's SizeOfRawData up to FileAlignment where the padding
// bytes are already in the file and zero, then checks the layout and sets the
// checksum again. Only header fields change; the file keeps its length.
LayoutResult AlignSectionRawSizes(std::vector<uint8_t>* image);

}  // namespace vireo::finisher
