#pragma once
// What a detached Authenticode signature covers: the content of its PKCS#7
// signedData (an SpcIndirectDataContent, which holds the image's digest and
// its algorithm). osslsigncode extract-data writes the same structure without
// a signer, so a signature made from that data carries these bytes exactly.

#include <cstdint>
#include <string>
#include <vector>

namespace vireo::release {

struct SignedContent {
  std::vector<uint8_t> content;  // the encapsulated ContentInfo, DER
  int signers = 0;               // signer infos in the signedData
};

// Reads the PKCS#7 signedData in `der`. Throws ReleaseError naming `what`
// when it is none or carries no content.
SignedContent ReadSignedContent(const std::vector<uint8_t>& der, const std::string& what);

}  // namespace vireo::release
