#pragma once
// The certificate that carries the tag inside a signature block: a throwaway,
// self-signed X.509 certificate added to the PKCS#7 certificate set, with the
// tag record as the value of one private, non-critical extension. It is never
// part of the signer's chain, so no verifier relies on it.
//
// The record area is the tag record (tag/tag_record_format.h) followed by
// zero bytes up to the next multiple of kRecordAreaUnit bytes: a later, longer
// tag that fits can be written over the area in place, without re-encoding the
// signature block.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tag/tag_record_format.h"

namespace vireo::tagger {

// The extension's OID, under the 2.25 arc of UUID-derived identifiers.
constexpr char kTagExtensionOid[] = "2.25.116450554156067276839163097886206137283";
constexpr size_t kRecordAreaUnit = 256;

// The record area for `tag` (at most 65,535 bytes): header, tag, zeros.
std::vector<uint8_t> TagRecordArea(const std::string& tag);

// The DER of the carrier certificate for `tag`, self-signed with the tool's
// fixed Ed25519 key: the same tag always gives the same bytes. Throws
// TagToolError when OpenSSL fails.
std::vector<uint8_t> MakeTagCertificate(const std::string& tag);

// True when `der` holds the tag magic anywhere: a carrier certificate, whether
// this tool or another stamping made it.
bool CarriesTagRecord(const std::vector<uint8_t>& der);

}  // namespace vireo::tagger
