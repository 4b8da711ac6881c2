#pragma once
// Setting and clearing the tag of a signed stub, on the file's bytes. Each
// result is checked with the stub's own lookup before it is returned.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vireo::tagger {

struct TagResult {
  std::vector<uint8_t> file;
  size_t carriers_removed = 0;  // earlier tag certificates taken out
  size_t record_area = 0;       // bytes the record may fill in place (set only)
};

// `file` with `tag` in a fresh carrier certificate, replacing every earlier
// one. Throws TagToolError when the tag or the file cannot be stamped (see
// CheckTagText, ParseSignedImage), when the signature block would no longer
// start with 0x30 0x82, or when the stub would not read back exactly `tag`.
// `file` is taken over, not copied.
TagResult SetTag(std::vector<uint8_t> file, const std::string& tag);

// `file` without carrier certificates. Throws TagToolError when the file
// cannot be rewritten (see ParseSignedImage) or a tag record would remain.
// `file` is taken over, not copied.
TagResult ClearTag(std::vector<uint8_t> file);

}  // namespace vireo::tagger
