#pragma once
// What a tag may hold before it is stamped: text the stub accepts and can put
// inside a double-quoted command-line parameter.

#include <string>

#include "tag/tag_limits.h"

namespace vireo::tagger {

// Throws TagToolError, naming the first problem, when `tag` is empty, longer
// than vireo::kMaxTagLength (the longest that fits the child's command line
// whatever the work directory), holds a byte that is not printable ASCII
// (0x20 to 0x7E), or holds a double quote.
void CheckTagText(const std::string& tag);

}  // namespace vireo::tagger
