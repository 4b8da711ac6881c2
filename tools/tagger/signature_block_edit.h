#pragma once
// The steps every rewrite of a signed stub's signature block shares: carrier
// certificates taken out, the block put back together within what the stub
// reads, and the result read back with the stub's own lookup.

#include <cstddef>
#include <string>

#include "tools/common/file_io.h"
#include "tools/tagger/signed_data.h"
#include "tools/tagger/signed_image.h"
#include "tools/tagger/stub_tag_lookup.h"

namespace vireo::tagger {

// The stub only accepts a signature block whose outer length takes exactly two
// bytes: 256 to 65,535 bytes of contents.
constexpr size_t kMaxSignedDataSize = 4 + 0xFFFF;

// Locates the signature block of `file` (see ParseSignedImage) and splits it
// into `parts` without its carrier certificates; returns how many it had.
size_t RemoveCarriers(tools::ByteSpan file, SignedImage* image, SignedDataParts* parts);

// The block for `parts`. Throws TagToolError when it would outgrow the two-byte
// DER length the stub reads, would not start with 0x30 0x82, or would not parse.
Bytes RejoinForStub(const SignedDataParts& parts);

// Throws TagToolError unless the stub's lookup found exactly `tag`.
void CheckStubReadsBack(const StubTag& read, const std::string& tag);

// Bytes the tag record of `tag` may fill in place.
size_t RecordAreaFor(const std::string& tag);

}  // namespace vireo::tagger
