#include "tools/tagger/tag_text.h"

#include <cstdio>

#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

void CheckTagText(const std::string& tag) {
  if (tag.empty()) throw TagToolError("the tag is empty");
  if (tag.size() > vireo::kMaxTagLength) {
    // The stub refuses to start a child whose command line would not fit; a
    // longer tag would make some work directories fail.
    throw TagToolError("the tag has " + std::to_string(tag.size()) +
                       " bytes; the stub's child command line holds at most " +
                       std::to_string(vireo::kMaxTagLength) + " (" +
                       std::to_string(vireo::kMaxChildCommandLineLength) +
                       " characters, less the longest program path, the switches and the "
                       "referral code)");
  }
  for (size_t i = 0; i < tag.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(tag[i]);
    if (c == '"') {
      throw TagToolError(
          "the tag contains a double quote (at byte " + std::to_string(i) +
          "); the stub rejects such a tag, as it quotes the tag on the child's command line");
    }
    // Control characters are ASCII too, but they have no place in a
    // command-line parameter: refuse them with the rest.
    if (c < 0x20 || c > 0x7E) {
      char code[8];
      std::snprintf(code, sizeof(code), "0x%02X", c);
      throw TagToolError("the tag is not printable ASCII (byte " + std::string(code) + " at " +
                         std::to_string(i) + ")");
    }
  }
}

}  // namespace vireo::tagger
