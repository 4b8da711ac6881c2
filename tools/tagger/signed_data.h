#pragma once
// The certificate set of an Authenticode signature block (a PKCS#7 ContentInfo
// holding SignedData), taken out so that certificates can be removed or added
// and the block put back together. The signature covers the signer's
// authenticated attributes, not the certificate set, so the signature still
// verifies afterwards.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vireo::tagger {

using Bytes = std::vector<uint8_t>;

struct SignedDataParts {
  Bytes content_type;  // the ContentInfo's OID element (signedData)
  Bytes before;        // SignedData contents before the set: version, digest algorithms, content
  std::vector<Bytes> certificates;  // each a whole DER element, in order
  Bytes after;                      // SignedData contents after the set: CRLs, signer infos
};

// Splits the ContentInfo that fills `der[0, size)` exactly. Throws TagToolError
// when it is not DER-encoded SignedData in the PKCS#7 layout.
SignedDataParts SplitSignedData(const uint8_t* der, size_t size);

// The ContentInfo for `parts`: every byte kept as given, the four enclosing
// lengths re-encoded in their shortest form. The certificate set is left out
// when `parts.certificates` is empty.
Bytes JoinSignedData(const SignedDataParts& parts);

// Size of the DER element at the start of `data[0, size)`: how much of a
// certificate table entry is signature block. Throws TagToolError when no
// complete element starts there.
size_t SignedDataSize(const uint8_t* data, size_t size);

// Throws TagToolError unless OpenSSL parses `der` as PKCS#7 SignedData using
// every byte of it: the last check before a rewritten block is written.
void CheckSignedDataParses(const Bytes& der);

}  // namespace vireo::tagger
