#include "tools/tagger/signed_data.h"

#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <cstring>

#include "tools/tagger/der.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kObjectIdentifier = 0x06;
constexpr uint8_t kExplicitZero = 0xA0;  // ContentInfo content; SignedData certificates
// 1.2.840.113549.1.7.2 (pkcs7-signedData), contents of the OID element.
constexpr uint8_t kSignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

Bytes Slice(const uint8_t* data, size_t begin, size_t end) {
  return Bytes(data + begin, data + end);
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

}  // namespace

SignedDataParts SplitSignedData(const uint8_t* der, size_t size) {
  const DerElement content_info = ReadDerElement(der, 0, size);
  if (content_info.tag != kSequence || content_info.end() != size) {
    throw TagToolError("the signature block is not a PKCS#7 ContentInfo");
  }
  const std::vector<DerElement> info =
      ReadDerElements(der, content_info.contents(), content_info.end());
  if (info.size() != 2 || info[0].tag != kObjectIdentifier ||
      info[0].length != sizeof(kSignedDataOid) ||
      std::memcmp(der + info[0].contents(), kSignedDataOid, sizeof(kSignedDataOid)) != 0 ||
      info[1].tag != kExplicitZero) {
    throw TagToolError("the signature block is not PKCS#7 SignedData");
  }
  const std::vector<DerElement> wrapped = ReadDerElements(der, info[1].contents(), info[1].end());
  if (wrapped.size() != 1 || wrapped[0].tag != kSequence) {
    throw TagToolError("the signature block's SignedData is malformed");
  }
  const DerElement& signed_data = wrapped[0];
  const std::vector<DerElement> fields =
      ReadDerElements(der, signed_data.contents(), signed_data.end());
  // version, digestAlgorithms, contentInfo, [0] certificates?, [1] crls?, signerInfos
  if (fields.size() < 4 || fields[0].tag != kInteger || fields[1].tag != kSet ||
      fields[2].tag != kSequence || fields.back().tag != kSet) {
    throw TagToolError("the signature block's SignedData is malformed");
  }

  SignedDataParts parts;
  parts.content_type = Slice(der, info[0].offset, info[0].end());
  parts.before = Slice(der, signed_data.contents(), fields[2].end());
  size_t after = fields[3].offset;
  if (fields[3].tag == kExplicitZero) {
    for (const DerElement& certificate :
         ReadDerElements(der, fields[3].contents(), fields[3].end())) {
      parts.certificates.push_back(Slice(der, certificate.offset, certificate.end()));
    }
    after = fields[3].end();
  }
  parts.after = Slice(der, after, signed_data.end());
  return parts;
}

Bytes JoinSignedData(const SignedDataParts& parts) {
  Bytes fields = parts.before;
  if (!parts.certificates.empty()) {
    Bytes set;
    for (const Bytes& certificate : parts.certificates) Append(set, certificate);
    AppendDerHeader(fields, kExplicitZero, set.size());
    Append(fields, set);
  }
  Append(fields, parts.after);

  Bytes content;
  AppendDerHeader(content, kSequence, fields.size());
  Append(content, fields);
  Bytes wrapped;
  AppendDerHeader(wrapped, kExplicitZero, content.size());
  Append(wrapped, content);

  Bytes info = parts.content_type;
  Append(info, wrapped);
  Bytes der;
  AppendDerHeader(der, kSequence, info.size());
  Append(der, info);
  return der;
}

size_t SignedDataSize(const uint8_t* data, size_t size) {
  return ReadDerElement(data, 0, size).end();
}

void CheckSignedDataParses(const Bytes& der) {
  const unsigned char* cursor = der.data();
  PKCS7* parsed = d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size()));
  const bool whole = parsed && cursor == der.data() + der.size() && PKCS7_type_is_signed(parsed);
  PKCS7_free(parsed);
  if (!whole) {
    throw TagToolError("the rewritten signature block does not parse as PKCS#7 SignedData");
  }
}

}  // namespace vireo::tagger
