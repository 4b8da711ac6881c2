#include "tools/tagger/signature_block_edit.h"

#include <utility>
#include <vector>

#include "tools/tagger/tag_certificate.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

size_t RemoveCarriers(tools::ByteSpan file, SignedImage* image, SignedDataParts* parts) {
  *image = ParseSignedImage(file);
  *parts = SplitSignedData(file.data + image->signed_data_offset, image->signed_data_size);
  size_t removed = 0;
  std::vector<Bytes> kept;
  for (Bytes& certificate : parts->certificates) {
    if (CarriesTagRecord(certificate)) {
      ++removed;
    } else {
      kept.push_back(std::move(certificate));
    }
  }
  parts->certificates = std::move(kept);
  return removed;
}

Bytes RejoinForStub(const SignedDataParts& parts) {
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

}  // namespace vireo::tagger
