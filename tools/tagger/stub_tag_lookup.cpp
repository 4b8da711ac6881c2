#include "tools/tagger/stub_tag_lookup.h"

#include <algorithm>
#include <cstring>

#include "tag/tag_record.h"

namespace vireo::tagger {

namespace {

constexpr size_t kPageSize = 4096;
constexpr uint32_t kMaxTagBufferSize = 65535;  // L + 1 for the longest tag accepted
constexpr char kMagic[] = "Wisk2.0Vireo";
constexpr uint32_t kMagicSize = sizeof(kMagic) - 1;

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

StubTag None(const std::string& reason) { return {StubTagStatus::kNone, std::string(), reason}; }
StubTag Rejected(const std::string& reason) {
  return {StubTagStatus::kRejected, std::string(), reason};
}

// Why LookUpCertificateTable refused `view`; its checks, in its order.
StubTag ExplainNoTable(const uint8_t* view, uint32_t mapped_size) {
  if (mapped_size < 64 || view[0] != 'M' || view[1] != 'Z') return None("not a Windows executable");
  const uint32_t pe = ReadLe32(view + 60);
  if (static_cast<uint64_t>(pe) + 248 > mapped_size || std::memcmp(view + pe, "PE\0\0", 4) != 0) {
    return None("not a PE image");
  }
  if ((view[pe + 4] | (view[pe + 5] << 8)) == 0x8664) {
    return None("a 64-bit image (machine 0x8664): the stub looks for no certificate table in it");
  }
  const uint32_t table = ReadLe32(view + pe + 152);
  if (table == 0) return None("the file is not signed (no certificate table)");
  if (static_cast<uint64_t>(table) + 12 >= mapped_size) {
    return None("the certificate table lies outside the file");
  }
  return None(
      "the certificate table does not start with a DER sequence with a two-byte length "
      "(0x30 0x82)");
}

// Why GetTagBytesFromTable refused a table that LookUpCertificateTable found.
StubTag ExplainNoRecord(const uint8_t* view, uint32_t mapped_size,
                        vireo::CertificateTableLocation location) {
  if (static_cast<uint64_t>(location.offset) + location.size > mapped_size) {
    return None("the certificate table's size runs past the end of the file");
  }
  if (static_cast<int32_t>(location.size) < 12) return None("the certificate table is too small");
  const uint8_t* table = view + location.offset;
  const uint8_t* found = nullptr;
  for (uint64_t at = 0; at + kMagicSize <= location.size && !found; ++at) {
    if (std::memcmp(table + at, kMagic, kMagicSize) == 0) found = table + at;
  }
  if (!found) return None("no tag record in the certificate table");
  const uint32_t length_at = static_cast<uint32_t>(found - table) + kMagicSize;
  if (uint64_t{length_at} + 2 > location.size) {
    return Rejected("the tag record's length field runs past the end of the certificate table");
  }
  const uint32_t length = (static_cast<uint32_t>(table[length_at]) << 8) | table[length_at + 1];
  if (length == 0) return Rejected("the tag record's length is 0");
  return Rejected("the tag record's " + std::to_string(length) +
                  " bytes run past the end of the certificate table");
}

// GetTagBytes twice and the quote scan, as the stub's ReadTag does them.
StubTag ReadPaddedView(const uint8_t* view, uint32_t mapped_size) {
  int32_t needed = 0;
  if (!vireo::GetTagBytes(view, mapped_size, nullptr, &needed)) {
    vireo::CertificateTableLocation location{};
    if (!vireo::LookUpCertificateTable(view, mapped_size, &location)) {
      return ExplainNoTable(view, mapped_size);
    }
    return ExplainNoRecord(view, mapped_size, location);
  }
  if (needed <= 0 || static_cast<uint32_t>(needed) > kMaxTagBufferSize) {
    return Rejected("the tag record's length is 65,535; the stub accepts at most 65,534");
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(needed));
  if (!vireo::GetTagBytes(view, mapped_size, buffer.data(), &needed)) {
    return Rejected("the tag could not be read a second time");
  }
  for (size_t i = 0; i < buffer.size() && buffer[i] != 0; ++i) {
    if (buffer[i] == '"') {
      return Rejected("the tag contains a double quote (at byte " + std::to_string(i) + ")");
    }
  }
  // The stub passes on the text up to the first zero byte; nothing at all
  // means it takes its default tag.
  const auto text_end = std::find(buffer.begin(), buffer.end(), 0);
  if (text_end == buffer.begin()) {
    return Rejected("the tag record is empty up to its first zero byte: the stub uses its "
                    "default tag");
  }
  StubTag found;
  found.status = StubTagStatus::kFound;
  found.tag.assign(buffer.begin(), text_end);
  return found;
}

}  // namespace

StubTag ReadTagFromMappedView(const uint8_t* view, uint32_t mapped_size) {
  return ReadPaddedView(view, mapped_size);
}

StubTag ReadTagAsStub(std::vector<uint8_t>& file) {
  if (file.size() > UINT32_MAX - kPageSize) {
    return None("the file is too large for the stub to map");
  }
  const size_t file_size = file.size();
  file.resize((file_size + kPageSize - 1) / kPageSize * kPageSize, 0);
  const StubTag read = ReadPaddedView(file.data(), static_cast<uint32_t>(file.size()));
  file.resize(file_size);
  return read;
}

}  // namespace vireo::tagger
