#pragma once
// Just enough DER to take a PKCS#7 ContentInfo apart and put it back together:
// one-byte tags and definite lengths. Contents are never decoded here; callers
// keep them as opaque bytes, so re-assembly changes nothing but the lengths of
// the elements it rebuilds.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vireo::tagger {

struct DerElement {
  uint8_t tag = 0;
  size_t offset = 0;       // of the tag byte
  size_t header_size = 0;  // tag and length bytes
  size_t length = 0;       // of the contents

  size_t contents() const { return offset + header_size; }
  size_t end() const { return offset + header_size + length; }
};

// The element whose tag byte is at `offset` of `data` and which must end at or
// before `limit`. Throws TagToolError for a multi-byte tag, an indefinite or
// over-long length field, or an element running past `limit`.
DerElement ReadDerElement(const uint8_t* data, size_t offset, size_t limit);

// The elements that fill `data[begin, end)` exactly, in order. Throws
// TagToolError as ReadDerElement does.
std::vector<DerElement> ReadDerElements(const uint8_t* data, size_t begin, size_t end);

// Appends the header of an element with `tag` and `length` content bytes, its
// length in the shortest form.
void AppendDerHeader(std::vector<uint8_t>& out, uint8_t tag, size_t length);

}  // namespace vireo::tagger
