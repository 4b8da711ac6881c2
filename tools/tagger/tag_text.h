#pragma once
// What a tag may hold before it is stamped: text the stub accepts and can put
// inside a double-quoted command-line parameter.

#include <cstddef>
#include <string>

namespace vireo::tagger {

// The longest tag the stub accepts: its reader refuses a length field of 65,535.
constexpr size_t kMaxTagLength = 65534;

// Throws TagToolError, naming the first problem, when `tag` is empty, longer
// than kMaxTagLength, holds a byte that is not printable ASCII (0x20 to 0x7E),
// or holds a double quote.
void CheckTagText(const std::string& tag);

}  // namespace vireo::tagger
