#include "tools/tagger/tag_planner.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "base/pe_layout.h"
#include "tools/tagger/pe_checksum.h"
#include "tools/tagger/signature_block_edit.h"
#include "tools/tagger/stub_tag_lookup.h"
#include "tools/tagger/tag_certificate.h"
#include "tools/tagger/tag_text.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

namespace {

constexpr size_t kPageSize = 4096;
// The WIN_CERTIFICATE header and at most 7 bytes of padding.
constexpr size_t kMaxTableOverhead = 8 + 7;

size_t RoundUpToPages(size_t size) { return (size + kPageSize - 1) / kPageSize * kPageSize; }

}  // namespace

TagPlanner::TagPlanner(tools::ByteSpan file, const BodySum& sum_body) {
  carriers_removed_ = RemoveCarriers(file, &image_, &parts_);
  // ParseSignedImage checked that the headers end before the table. The
  // bytes at and after the last even offset before the table share their
  // checksum words with the table's first bytes, so they go with the table.
  tail_offset_ = image_.table_offset & ~size_t{1};
  const size_t headers_size = std::min<size_t>(
      (size_t{image_.nt_headers_end} + 1) & ~size_t{1}, tail_offset_);
  headers_.assign(file.data, file.data + headers_size);
  before_table_.assign(file.data + tail_offset_, file.data + image_.table_offset);
  body_word_sum_ = sum_body(headers_size, tail_offset_ - headers_size);

  // calloc's fresh pages cost nothing until written, and only the headers
  // and the table's pages ever are.
  lookup_view_size_ =
      RoundUpToPages(size_t{image_.table_offset} + kMaxTableOverhead + kMaxSignedDataSize);
  lookup_view_.reset(static_cast<uint8_t*>(std::calloc(lookup_view_size_, 1)));
  if (!lookup_view_) throw TagToolError("out of memory for the stub's view of the file");
}

PlannedStub TagPlanner::Plan(const std::string& tag) {
  CheckTagText(tag);
  SignedDataParts parts = parts_;
  parts.certificates.push_back(MakeTagCertificate(tag));
  const Bytes table = CertificateTableFor(RejoinForStub(parts), image_.table_offset);

  PlannedStub stub;
  stub.record_area = RecordAreaFor(tag);
  stub.file_size = size_t{image_.table_offset} + table.size();
  stub.headers = headers_;
  WriteLittleEndian32(stub.headers.data() + image_.certificate_entry + 4,
                      static_cast<uint32_t>(table.size()));
  stub.tail = before_table_;
  stub.tail.insert(stub.tail.end(), table.begin(), table.end());
  const uint64_t word_sum =
      SumLe16WordsWithoutChecksum(stub.headers.data(), stub.headers.size(),
                                  image_.checksum_field) +
      body_word_sum_ + SumLe16Words(stub.tail.data(), stub.tail.size());
  WriteLittleEndian32(stub.headers.data() + image_.checksum_field,
                      FoldPeChecksum(word_sum, stub.file_size));

  // The stub's lookup reads the headers and the table only; the body between
  // them stays zero in the view.
  uint8_t* view = lookup_view_.get();
  std::memcpy(view, stub.headers.data(), stub.headers.size());
  std::memcpy(view + tail_offset_, stub.tail.data(), stub.tail.size());
  const size_t tail_end = tail_offset_ + stub.tail.size();
  if (lookup_view_dirty_end_ > tail_end) {
    std::memset(view + tail_end, 0, lookup_view_dirty_end_ - tail_end);
  }
  lookup_view_dirty_end_ = tail_end;
  CheckStubReadsBack(
      ReadTagFromMappedView(view, static_cast<uint32_t>(RoundUpToPages(stub.file_size))), tag);
  return stub;
}

}  // namespace vireo::tagger
