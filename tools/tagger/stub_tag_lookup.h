#pragma once
// The tag of a file exactly as the stub reads it from its own image, and when
// there is none, why.

#include <cstdint>
#include <string>
#include <vector>

namespace vireo::tagger {

enum class StubTagStatus {
  kFound,     // `tag` holds what the stub passes on
  kNone,      // no record: unsigned, not PE, no magic in the table
  kRejected,  // a record the stub refuses, so it falls back to its default tag
};

struct StubTag {
  StubTagStatus status = StubTagStatus::kNone;
  std::string tag;     // the text up to the first zero byte, as the stub passes it on
  std::string reason;  // why nothing was found; empty when found
};

// Reads `file` with the stub's own lookup over a view padded with zeros to
// whole 4 KiB pages, as the stub maps its file: the first magic in the
// certificate table, a length of 1 to 65,534, no double quote before the first
// zero byte, at least one byte before it (an empty text is no tag: the stub
// uses its default tag). The padding is added to `file` in place (free when its capacity
// allows, see tools::ReadWholeFile) and removed again before returning.
StubTag ReadTagAsStub(std::vector<uint8_t>& file);

// The same lookup over `view`, `mapped_size` bytes already padded with zeros
// to whole 4 KiB pages. The lookup reads only the headers up to the end of
// the optional header (PE32 or PE32+) and the certificate table.
StubTag ReadTagFromMappedView(const uint8_t* view, uint32_t mapped_size);

}  // namespace vireo::tagger
