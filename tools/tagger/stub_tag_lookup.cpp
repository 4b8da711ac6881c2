#include "tools/tagger/stub_tag_lookup.h"

#include "tag/tag_record.h"

namespace vireo::tagger {

namespace {

constexpr size_t kPageSize = 4096;

// Why the stub takes no tag from a file, in the tool's words. `text` is the
// record as far as the lookup read it; `quote_at`, where a double quote is.
std::string Reason(TagRecordStatus status, const TagRecordText& text, uint32_t quote_at) {
  switch (status) {
    case TagRecordStatus::kFound:
      break;
    case TagRecordStatus::kNotAnExecutable:
      return "not a Windows executable";
    case TagRecordStatus::kNotPeImage:
      return "not a PE image";
    case TagRecordStatus::kAmd64WithoutPe32Plus:
      return "an AMD64 image (machine 0x8664) without a PE32+ optional header: the stub looks "
             "for no certificate table in it";
    case TagRecordStatus::kNotSigned:
      return "the file is not signed (no certificate table)";
    case TagRecordStatus::kTableOutsideImage:
      return "the certificate table lies outside the file";
    case TagRecordStatus::kTableNotDerSequence:
      return "the certificate table does not start with a DER sequence with a two-byte length "
             "(0x30 0x82)";
    case TagRecordStatus::kTableRunsPastImage:
      return "the certificate table's size runs past the end of the file";
    case TagRecordStatus::kTableTooSmall:
      return "the certificate table is too small";
    case TagRecordStatus::kNoTagRecord:
      return "no tag record in the certificate table";
    case TagRecordStatus::kLengthFieldCut:
      return "the tag record's length field runs past the end of the certificate table";
    case TagRecordStatus::kZeroLength:
      return "the tag record's length is 0";
    case TagRecordStatus::kTextRunsPastTable:
      return "the tag record's " + std::to_string(text.length) +
             " bytes run past the end of the certificate table";
    case TagRecordStatus::kTooLong:
      return "the tag record's length is 65,535; the stub accepts at most 65,534";
    case TagRecordStatus::kDoubleQuote:
      return "the tag contains a double quote (at byte " + std::to_string(quote_at) + ")";
    case TagRecordStatus::kEmptyText:
      return "the tag record is empty up to its first zero byte: the stub uses its default tag";
  }
  return std::string();
}

StubTag NoTag(TagRecordStatus status, const TagRecordText& text, uint32_t quote_at = 0) {
  return {IsRejectedTagRecord(status) ? StubTagStatus::kRejected : StubTagStatus::kNone,
          std::string(), Reason(status, text, quote_at)};
}

// The stub's lookup and ReadTag's checks, in their order.
StubTag ReadPaddedView(const uint8_t* view, uint32_t mapped_size) {
  CertificateTableLocation location{};
  TagRecordText text{};
  TagRecordStatus status = FindCertificateTable(view, mapped_size, &location);
  if (status == TagRecordStatus::kFound) status = FindTagRecord(view, mapped_size, location, &text);
  if (status == TagRecordStatus::kFound && text.length > kMaxTagRecordLength) {
    status = TagRecordStatus::kTooLong;
  }
  if (status != TagRecordStatus::kFound) return NoTag(status, text);

  uint32_t text_length = 0;
  status = FindTagText(view + text.offset, text.length, &text_length);
  if (status != TagRecordStatus::kFound) return NoTag(status, text, text_length);
  StubTag found;
  found.status = StubTagStatus::kFound;
  found.tag.assign(view + text.offset, view + text.offset + text_length);
  return found;
}

}  // namespace

StubTag ReadTagFromMappedView(const uint8_t* view, uint32_t mapped_size) {
  return ReadPaddedView(view, mapped_size);
}

StubTag ReadTagAsStub(std::vector<uint8_t>& file) {
  if (file.size() > UINT32_MAX - kPageSize) {
    return {StubTagStatus::kNone, std::string(), "the file is too large for the stub to map"};
  }
  const size_t file_size = file.size();
  file.resize((file_size + kPageSize - 1) / kPageSize * kPageSize, 0);
  const StubTag read = ReadPaddedView(file.data(), static_cast<uint32_t>(file.size()));
  file.resize(file_size);
  return read;
}

}  // namespace vireo::tagger
