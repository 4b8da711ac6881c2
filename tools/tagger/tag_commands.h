#pragma once
// Setting and clearing the tag of a signed stub, on the file's bytes. Each
// result is checked with the stub's own lookup before it is returned.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/common/file_io.h"
#include "tools/tagger/signed_data.h"
#include "tools/tagger/signed_image.h"
#include "tools/tagger/tag_planner.h"

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

// One signed stub tagged with many tags (set-many): the file is read and
// parsed once, its earlier tag removed once, and each tag then costs its
// carrier certificate, the signature block, the certificate table and the
// checksum of what changed (see TagPlanner). Each stub written is byte for
// byte what SetTag returns for its tag; Plan refuses exactly what SetTag
// refuses, with the same messages.
class BatchTagger {
 public:
  // Throws TagToolError as SetTag does for a file it cannot stamp.
  explicit BatchTagger(std::vector<uint8_t> file);

  // The stub for `tag`, checked as SetTag checks it (the stub's lookup reads
  // back exactly `tag`). Throws TagToolError as SetTag does.
  PlannedStub Plan(const std::string& tag) { return planner_.Plan(tag); }

  // Writes `stub` to `path` through a temporary file, with the permissions of
  // `permissions_from`. Throws TagToolError when it cannot.
  void Write(const PlannedStub& stub, const std::filesystem::path& path,
             const std::filesystem::path& permissions_from) const;

  size_t carriers_removed() const { return planner_.carriers_removed(); }

 private:
  std::vector<uint8_t> file_;
  TagPlanner planner_;  // after file_, which it reads while it is made
};

}  // namespace vireo::tagger
