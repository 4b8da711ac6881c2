#include "tests/signing/stub_reads.h"

#include "tag/tag_record.h"

namespace vireo::test {

std::string StubReads(const std::vector<uint8_t>& image) {
  std::vector<uint8_t> view = image;
  view.resize((view.size() + 4095) / 4096 * 4096, 0);
  int32_t size = 0;
  if (!GetTagBytes(view.data(), static_cast<uint32_t>(view.size()), nullptr, &size)) {
    return "<none>";
  }
  std::string tag(static_cast<size_t>(size), '\0');
  if (!GetTagBytes(view.data(), static_cast<uint32_t>(view.size()),
                   reinterpret_cast<uint8_t*>(tag.data()), &size)) {
    return "<none>";
  }
  return tag.substr(0, tag.find('\0'));
}

}  // namespace vireo::test
