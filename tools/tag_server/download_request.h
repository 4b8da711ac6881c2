#pragma once
// What a download link asks for: the file name the user's browser will save
// (the stub's name, perhaps with a referral code) and the distributor's tag,
// taken from the request target. Pure text work, so that every hostile target
// can be tried without a socket.

#include <string>
#include <string_view>

namespace vireo::tag_server {

struct DownloadRequest {
  std::string file_name;  // decoded, e.g. "CorvaneUpdateSetup-ACS219.exe"
  bool has_tag = false;   // without a tag the stub is served as it is
  std::string tag;        // decoded; checked by the tagger, not here
};

// Why a target is refused: an HTTP status and a sentence for the response body.
struct TargetRefusal {
  unsigned status = 0;  // 0 when the target was accepted
  std::string reason;
};

// Parses `target` ("/NAME.exe?tag=..."; an absolute URL's path and query are
// taken the same way). The path is percent-decoded and must be "/" and one
// name: `served_name` itself, or its stem, a dash, a referral suffix of 1 to
// 32 ASCII letters, digits and dashes, and its extension, letter case aside.
// The query is form-encoded ('+' is a space); "tag" may appear once, other
// keys are ignored. Refusals: 400 for malformed percent-encoding, a repeated
// tag, a path with folders, "..", backslashes or control characters; 404 for
// any other name.
TargetRefusal ParseDownloadTarget(std::string_view target, std::string_view served_name,
                                  DownloadRequest* request);

}  // namespace vireo::tag_server
