#pragma once
// What a tagged stub is made of, planned from the signed stub it comes from:
// new headers (checksum and certificate table size), the unchanged body, and a
// new tail (the certificate table with the tag's carrier certificate). Only
// the headers and the certificate table are read after set-up, and the
// checksum comes from a sum of the body taken once, so each tag costs its own
// bytes whatever the stub's size. set-many and the tagging server build on it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "tools/common/file_io.h"
#include "tools/tagger/signed_data.h"
#include "tools/tagger/signed_image.h"

namespace vireo::tagger {

// A tagged stub: `headers`, then the signed stub's body (TagPlanner's
// body_offset() and body_size()), then `tail`.
struct PlannedStub {
  Bytes headers;          // the file's first bytes, checksum and table size set
  Bytes tail;             // from an even offset before the table to the end
  size_t file_size = 0;
  size_t record_area = 0;  // bytes the record may fill in place
};

class TagPlanner {
 public:
  // The plain sum of the 16-bit little-endian words of the signed stub's
  // bytes [offset, offset + size), as SumLe16Words gives it; `offset` is even.
  using BodySum = std::function<uint64_t(size_t offset, size_t size)>;

  // Parses `file` (only its headers and certificate table are read, see
  // ParseSignedImage) and takes the body's sum from `sum_body`. `file` is not
  // kept. Throws TagToolError as SetTag does for a file it cannot stamp.
  TagPlanner(tools::ByteSpan file, const BodySum& sum_body);
  TagPlanner(const TagPlanner&) = delete;
  TagPlanner& operator=(const TagPlanner&) = delete;

  // The stub for `tag`, checked as SetTag checks it (the stub's lookup reads
  // back exactly `tag`). Throws TagToolError as SetTag does.
  PlannedStub Plan(const std::string& tag);

  // The signed stub's bytes every tagged stub shares, unchanged.
  size_t body_offset() const { return headers_.size(); }
  size_t body_size() const { return tail_offset_ - headers_.size(); }
  size_t carriers_removed() const { return carriers_removed_; }

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };

  SignedImage image_;
  SignedDataParts parts_;  // carriers removed
  size_t carriers_removed_ = 0;
  Bytes headers_;             // the signed stub's first bytes, an even count
  size_t tail_offset_ = 0;    // even; where each stub's own tail starts
  Bytes before_table_;        // the signed stub's [tail_offset_, table offset)
  uint64_t body_word_sum_ = 0;
  // Zeros but for the headers and tail of the last stub planned: what the
  // stub's lookup reads of a file, without copying the body each time.
  std::unique_ptr<uint8_t, FreeDeleter> lookup_view_;
  size_t lookup_view_size_ = 0;
  size_t lookup_view_dirty_end_ = 0;
};

}  // namespace vireo::tagger
