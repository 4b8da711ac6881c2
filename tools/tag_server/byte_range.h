#pragma once
// The one byte range a resumed download asks for ("Range: bytes=..."), within
// a file of a known size.

#include <cstdint>
#include <string_view>

namespace vireo::tag_server {

struct ByteRange {
  enum class Kind {
    kWhole,           // no usable Range: the whole file, 200
    kPart,            // bytes [first, last] of the file, 206
    kUnsatisfiable,   // starts past the end, 416
  };
  Kind kind = Kind::kWhole;
  uint64_t first = 0;
  uint64_t last = 0;  // inclusive
};

// The range `header` asks of a file of `size` bytes: "bytes=A-B", "bytes=A-"
// or "bytes=-N" (the last N bytes), a last byte past the end taken as the
// end. A header that is malformed, names another unit or several ranges is
// ignored (the whole file is sent), as HTTP allows.
ByteRange ParseByteRange(std::string_view header, uint64_t size);

}  // namespace vireo::tag_server
