#include "tools/tagger/tag_commands.h"

#include "tools/tagger/pe_checksum.h"
#include "tools/tagger/signature_block_edit.h"
#include "tools/tagger/stub_tag_lookup.h"
#include "tools/tagger/tag_certificate.h"
#include "tools/tagger/tag_text.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

TagResult SetTag(std::vector<uint8_t> file, const std::string& tag) {
  CheckTagText(tag);
  SignedImage image;
  SignedDataParts parts;
  TagResult result;
  result.carriers_removed = RemoveCarriers({file.data(), file.size()}, &image, &parts);
  parts.certificates.push_back(MakeTagCertificate(tag));
  result.record_area = RecordAreaFor(tag);
  result.file = WithSignedData(std::move(file), image, RejoinForStub(parts));
  CheckStubReadsBack(ReadTagAsStub(result.file), tag);
  return result;
}

TagResult ClearTag(std::vector<uint8_t> file) {
  SignedImage image;
  SignedDataParts parts;
  TagResult result;
  result.carriers_removed = RemoveCarriers({file.data(), file.size()}, &image, &parts);
  result.file = WithSignedData(std::move(file), image, RejoinForStub(parts));
  if (ReadTagAsStub(result.file).status != StubTagStatus::kNone) {
    throw TagToolError(
        "a tag record lies in the signature block outside any certificate; "
        "it cannot be removed without re-signing");
  }
  return result;
}

BatchTagger::BatchTagger(std::vector<uint8_t> file)
    : file_(std::move(file)),
      planner_({file_.data(), file_.size()}, [this](size_t offset, size_t size) {
        return SumLe16Words(file_.data() + offset, size);
      }) {}

void BatchTagger::Write(const PlannedStub& stub, const std::filesystem::path& path,
                        const std::filesystem::path& permissions_from) const {
  tools::WriteFileAtomically(
      path,
      {tools::ByteSpan{stub.headers.data(), stub.headers.size()},
       tools::ByteSpan{file_.data() + planner_.body_offset(), planner_.body_size()},
       tools::ByteSpan{stub.tail.data(), stub.tail.size()}},
      permissions_from);
}

}  // namespace vireo::tagger
