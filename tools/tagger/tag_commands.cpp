#include "tools/tagger/tag_commands.h"

#include "tools/tagger/signed_data.h"
#include "tools/tagger/signed_image.h"
#include "tools/tagger/stub_tag_lookup.h"
#include "tools/tagger/tag_certificate.h"
#include "tools/tagger/tag_text.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

namespace {

// The stub only accepts a signature block whose outer length takes exactly two
// bytes: 256 to 65,535 bytes of contents.
constexpr size_t kMaxSignedDataSize = 4 + 0xFFFF;

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

}  // namespace

TagResult SetTag(std::vector<uint8_t> file, const std::string& tag) {
  CheckTagText(tag);
  SignedImage image;
  SignedDataParts parts;
  TagResult result = RemoveCarriers(file, &image, &parts);
  parts.certificates.push_back(MakeTagCertificate(tag));
  result.record_area = TagRecordArea(tag).size() - kRecordHeaderSize;
  result.file = WithSignedData(std::move(file), image, Rejoin(parts));

  const StubTag read = ReadTagAsStub(result.file);
  if (read.status != StubTagStatus::kFound || read.tag != tag) {
    throw TagToolError("the stub would not read back the tag (" +
                       (read.reason.empty() ? "another tag record comes first" : read.reason) +
                       ")");
  }
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

}  // namespace vireo::tagger
