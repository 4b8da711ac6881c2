#include "tools/tagger/der.h"

#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

namespace {

constexpr uint8_t kHighTagNumber = 0x1F;
constexpr uint8_t kLongLengthForm = 0x80;
// Signature blocks are far below 4 GiB; a longer length field means corruption.
constexpr size_t kMaxLengthBytes = 4;

}  // namespace

DerElement ReadDerElement(const uint8_t* data, size_t offset, size_t limit) {
  if (offset >= limit || limit - offset < 2) {
    throw TagToolError("the signature block is truncated (DER element header)");
  }
  DerElement element;
  element.offset = offset;
  element.tag = data[offset];
  if ((element.tag & kHighTagNumber) == kHighTagNumber) {
    throw TagToolError("the signature block uses a multi-byte DER tag");
  }
  const uint8_t first = data[offset + 1];
  size_t header = 2;
  size_t length = first;
  if (first & kLongLengthForm) {
    const size_t count = first & ~kLongLengthForm;
    if (count == 0)
      throw TagToolError("the signature block is BER with indefinite lengths, not DER");
    if (count > kMaxLengthBytes)
      throw TagToolError("the signature block has an over-long DER length");
    if (limit - offset - header < count) {
      throw TagToolError("the signature block is truncated (DER length)");
    }
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | data[offset + header + i];
    header += count;
  }
  if (length > limit - offset - header) {
    throw TagToolError("the signature block is truncated (a DER element runs past its end)");
  }
  element.header_size = header;
  element.length = length;
  return element;
}

std::vector<DerElement> ReadDerElements(const uint8_t* data, size_t begin, size_t end) {
  std::vector<DerElement> elements;
  for (size_t at = begin; at < end;) {
    elements.push_back(ReadDerElement(data, at, end));
    at = elements.back().end();
  }
  return elements;
}

void AppendDerHeader(std::vector<uint8_t>& out, uint8_t tag, size_t length) {
  out.push_back(tag);
  if (length < kLongLengthForm) {
    out.push_back(static_cast<uint8_t>(length));
    return;
  }
  uint8_t bytes[sizeof(size_t)];
  size_t count = 0;
  for (size_t rest = length; rest != 0; rest >>= 8) bytes[count++] = static_cast<uint8_t>(rest);
  out.push_back(static_cast<uint8_t>(kLongLengthForm | count));
  while (count > 0) out.push_back(bytes[--count]);
}

}  // namespace vireo::tagger
