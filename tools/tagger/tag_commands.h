#pragma once
// Setting and clearing the tag of a signed stub, on the file's bytes. Each
// result is checked with the stub's own lookup before it is returned.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/common/file_io.h"
#include "tools/tagger/signed_data.h"
#include "tools/tagger/signed_image.h"

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

// A stub to be written by BatchTagger: what differs from the signed stub.
struct PlannedStub {
  Bytes headers;          // the file's first bytes, checksum and table size set
  Bytes tail;             // from an even offset before the table to the end
  size_t file_size = 0;
  size_t record_area = 0;  // as TagResult::record_area
};

// One signed stub tagged with many tags (set-many): the file is read and
// parsed once, its earlier tag removed once, and each tag then costs its
// carrier certificate, the signature block, the certificate table and the
// checksum of what changed. Each stub written is byte for byte what SetTag
// returns for its tag; Plan refuses exactly what SetTag refuses, with the
// same messages.
class BatchTagger {
 public:
  // Throws TagToolError as SetTag does for a file it cannot stamp.
  explicit BatchTagger(std::vector<uint8_t> file);

  // The stub for `tag`, checked as SetTag checks it (the stub's lookup reads
  // back exactly `tag`). Throws TagToolError as SetTag does.
  PlannedStub Plan(const std::string& tag);

  // Writes `stub` to `path` through a temporary file, with the permissions of
  // `permissions_from`. Throws TagToolError when it cannot.
  void Write(const PlannedStub& stub, const std::filesystem::path& path,
             const std::filesystem::path& permissions_from) const;

  size_t carriers_removed() const { return carriers_removed_; }

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };

  std::vector<uint8_t> file_;
  SignedImage image_;
  SignedDataParts parts_;  // carriers removed
  size_t carriers_removed_ = 0;
  size_t headers_size_ = 0;  // even; the headers every stub rewrites
  size_t tail_offset_ = 0;   // even; where each stub's own tail starts
  uint64_t body_word_sum_ = 0;  // of [headers_size_, tail_offset_), the same for all
  // Zeros but for the headers and tail of the last stub planned: what the
  // stub's lookup reads of a file, without copying the body each time.
  std::unique_ptr<uint8_t, FreeDeleter> lookup_view_;
  size_t lookup_view_size_ = 0;
  size_t lookup_view_dirty_end_ = 0;
};

}  // namespace vireo::tagger
