#include "tools/tagger/tag_commands.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "tools/tagger/pe_checksum.h"
#include "tools/tagger/stub_tag_lookup.h"
#include "tools/tagger/tag_certificate.h"
#include "tools/tagger/tag_text.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

namespace {

// The stub only accepts a signature block whose outer length takes exactly two
// bytes: 256 to 65,535 bytes of contents.
constexpr size_t kMaxSignedDataSize = 4 + 0xFFFF;
constexpr size_t kPageSize = 4096;
// The WIN_CERTIFICATE header and at most 7 bytes of padding.
constexpr size_t kMaxTableOverhead = 8 + 7;

size_t RoundUpToPages(size_t size) { return (size + kPageSize - 1) / kPageSize * kPageSize; }

// The file's signature block without carrier certificates, in `parts`.
TagResult RemoveCarriers(const std::vector<uint8_t>& file, SignedImage* image,
                         SignedDataParts* parts) {
  *image = ParseSignedImage(file);
  *parts = SplitSignedData(file.data() + image->signed_data_offset, image->signed_data_size);
  TagResult result;
  std::vector<Bytes> kept;
  for (Bytes& certificate : parts->certificates) {
    if (CarriesTagRecord(certificate)) {
      ++result.carriers_removed;
    } else {
      kept.push_back(std::move(certificate));
    }
  }
  parts->certificates = std::move(kept);
  return result;
}

Bytes Rejoin(const SignedDataParts& parts) {
  Bytes der = JoinSignedData(parts);
  if (der.size() > kMaxSignedDataSize) {
    throw TagToolError("the signature block would grow to " + std::to_string(der.size()) +
                       " bytes, but the stub reads only blocks of at most " +
                       std::to_string(kMaxSignedDataSize) +
                       " (a DER length of two bytes); use a shorter tag");
  }
  if (der.size() < 2 || der[0] != 0x30 || der[1] != 0x82) {
    throw TagToolError(
        "the signature block would not start with 0x30 0x82, which the stub requires");
  }
  CheckSignedDataParses(der);
  return der;
}

void CheckStubReadsBack(const StubTag& read, const std::string& tag) {
  if (read.status != StubTagStatus::kFound || read.tag != tag) {
    throw TagToolError("the stub would not read back the tag (" +
                       (read.reason.empty() ? "another tag record comes first" : read.reason) +
                       ")");
  }
}

size_t RecordAreaFor(const std::string& tag) {
  return TagRecordArea(tag).size() - kTagRecordHeaderSize;
}

}  // namespace

TagResult SetTag(std::vector<uint8_t> file, const std::string& tag) {
  CheckTagText(tag);
  SignedImage image;
  SignedDataParts parts;
  TagResult result = RemoveCarriers(file, &image, &parts);
  parts.certificates.push_back(MakeTagCertificate(tag));
  result.record_area = RecordAreaFor(tag);
  result.file = WithSignedData(std::move(file), image, Rejoin(parts));
  CheckStubReadsBack(ReadTagAsStub(result.file), tag);
  return result;
}

TagResult ClearTag(std::vector<uint8_t> file) {
  SignedImage image;
  SignedDataParts parts;
  TagResult result = RemoveCarriers(file, &image, &parts);
  result.file = WithSignedData(std::move(file), image, Rejoin(parts));
  if (ReadTagAsStub(result.file).status != StubTagStatus::kNone) {
    throw TagToolError(
        "a tag record lies in the signature block outside any certificate; "
        "it cannot be removed without re-signing");
  }
  return result;
}

BatchTagger::BatchTagger(std::vector<uint8_t> file) : file_(std::move(file)) {
  TagResult removed = RemoveCarriers(file_, &image_, &parts_);
  carriers_removed_ = removed.carriers_removed;
  // ParseSignedImage checked that the headers end before the table. The
  // bytes at and after the last even offset before the table share their
  // checksum words with the table's first bytes, so they go with the table.
  tail_offset_ = image_.table_offset & ~size_t{1};
  headers_size_ = std::min<size_t>(
      (size_t{image_.pe_header} + kPe32NtHeadersSize + 1) & ~size_t{1}, tail_offset_);
  body_word_sum_ = SumLe16Words(file_.data() + headers_size_, tail_offset_ - headers_size_);

  // calloc's fresh pages cost nothing until written, and only the headers
  // and the table's pages ever are.
  lookup_view_size_ =
      RoundUpToPages(size_t{image_.table_offset} + kMaxTableOverhead + kMaxSignedDataSize);
  lookup_view_.reset(static_cast<uint8_t*>(std::calloc(lookup_view_size_, 1)));
  if (!lookup_view_) throw TagToolError("out of memory for the stub's view of the file");
}

PlannedStub BatchTagger::Plan(const std::string& tag) {
  CheckTagText(tag);
  SignedDataParts parts = parts_;
  parts.certificates.push_back(MakeTagCertificate(tag));
  const Bytes table = CertificateTableFor(Rejoin(parts), image_.table_offset);

  PlannedStub stub;
  stub.record_area = RecordAreaFor(tag);
  stub.file_size = size_t{image_.table_offset} + table.size();
  stub.headers.assign(file_.begin(), file_.begin() + headers_size_);
  WriteLittleEndian32(stub.headers.data() + image_.certificate_entry + 4,
            static_cast<uint32_t>(table.size()));
  stub.tail.assign(file_.begin() + tail_offset_, file_.begin() + image_.table_offset);
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

void BatchTagger::Write(const PlannedStub& stub, const std::filesystem::path& path,
                        const std::filesystem::path& permissions_from) const {
  tools::WriteFileAtomically(
      path,
      {tools::ByteRange{stub.headers.data(), stub.headers.size()},
       tools::ByteRange{file_.data() + headers_size_, tail_offset_ - headers_size_},
       tools::ByteRange{stub.tail.data(), stub.tail.size()}},
      permissions_from);
}

}  // namespace vireo::tagger
