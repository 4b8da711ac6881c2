#pragma once
// Signed images, 32-bit or 64-bit, rearranged the way a damaged or hostile
// file could be, for the tagger's refusal tests and its fuzzer's seeds. Each
// keeps a real signature block, so that only the arrangement decides what the
// tagger does with it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vireo::test {

// A copy of signed `image` (PE32 or PE32+) whose certificate table starts
// right after the DOS header, with the PE headers inside the table's entry,
// `gap` zero bytes after the signature block. The stub still finds the table and its tag; a
// rewritten table that is shorter than the old one would cut the headers off.
std::vector<uint8_t> HeadersInsideTable(const std::vector<uint8_t>& image, size_t gap);

// A copy of signed `image` (PE32 or PE32+) without sections (as
// MakeMinimalPe makes them) given one section, ".text", whose raw data fills file offsets
// [kSectionStart, kSectionEnd), and its certificate table moved to
// `table_offset`: at kSectionEnd or later it follows the section, earlier it
// starts inside it.
constexpr uint32_t kSectionStart = 0x200;
constexpr uint32_t kSectionEnd = 0x600;
std::vector<uint8_t> WithSectionAndTableAt(const std::vector<uint8_t>& image,
                                           uint32_t table_offset);

// A copy of signed `image` (PE32 or PE32+) whose optional header's
// SizeOfHeaders is `size`.
std::vector<uint8_t> WithSizeOfHeaders(const std::vector<uint8_t>& image, uint32_t size);

}  // namespace vireo::test
