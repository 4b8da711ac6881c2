#include "tools/tag_server/download_request.h"

#include <cstddef>
#include <optional>

namespace vireo::tag_server {

namespace {

constexpr size_t kMaxReferralLength = 32;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// `text` with %XX sequences decoded (and '+' as a space when `form`), or
// nothing when a '%' is not followed by two hex digits.
std::optional<std::string> PercentDecode(std::string_view text, bool form) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (form && c == '+') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsReferralCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// `name` is `served_name`, or its stem with "-REFERRAL" before the extension.
bool IsServedName(std::string_view name, std::string_view served_name) {
  if (EqualsIgnoringCase(name, served_name)) return true;
  const size_t dot = served_name.rfind('.');
  const std::string_view stem = served_name.substr(0, dot);
  const std::string_view extension =
      dot == std::string_view::npos ? std::string_view{} : served_name.substr(dot);
  if (name.size() < stem.size() + 2 + extension.size()) return false;
  if (!EqualsIgnoringCase(name.substr(0, stem.size()), stem) || name[stem.size()] != '-' ||
      !EqualsIgnoringCase(name.substr(name.size() - extension.size()), extension)) {
    return false;
  }
  const std::string_view referral =
      name.substr(stem.size() + 1, name.size() - stem.size() - 1 - extension.size());
  if (referral.size() > kMaxReferralLength) return false;
  for (char c : referral) {
    if (!IsReferralCharacter(c)) return false;
  }
  return true;
}

TargetRefusal Refuse(unsigned status, std::string reason) {
  return TargetRefusal{status, std::move(reason)};
}

}  // namespace

TargetRefusal ParseDownloadTarget(std::string_view target, std::string_view served_name,
                                  DownloadRequest* request) {
  *request = DownloadRequest{};
  // An absolute URL (as sent to proxies) names the same resource as its path.
  for (std::string_view scheme : {"http://", "https://"}) {
    if (target.size() >= scheme.size() &&
        EqualsIgnoringCase(target.substr(0, scheme.size()), scheme)) {
      const size_t path = target.find_first_of("/?", scheme.size());
      target = path == std::string_view::npos ? std::string_view("/") : target.substr(path);
      if (!target.empty() && target[0] == '?') return Refuse(404, "no file named in the URL");
      break;
    }
  }
  if (target.empty() || target[0] != '/') {
    return Refuse(400, "the request target is not a path");
  }
  const size_t question = target.find('?');
  const std::string_view raw_path = target.substr(0, question);
  const std::optional<std::string> path = PercentDecode(raw_path, false);
  if (!path) return Refuse(400, "malformed percent-encoding in the path");
  const std::string_view name = std::string_view(*path).substr(1);
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) {
      return Refuse(400, "the path names a folder or holds a control character; only a file "
                         "name is served");
    }
  }
  if (name.find("..") != std::string_view::npos) {
    return Refuse(400, "the path holds \"..\"; only a file name is served");
  }
  if (!IsServedName(name, served_name)) {
    return Refuse(404, "no such file; this server serves " + std::string(served_name) +
                           ", also with a referral code before its extension");
  }
  request->file_name = std::string(name);

  if (question == std::string_view::npos) return {};
  std::string_view query = target.substr(question + 1);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    const std::optional<std::string> key = PercentDecode(pair.substr(0, equals), true);
    const std::optional<std::string> value = PercentDecode(
        equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1), true);
    if (!key || !value) return Refuse(400, "malformed percent-encoding in the query");
    if (*key != "tag") continue;
    if (request->has_tag) return Refuse(400, "the query gives the tag more than once");
    request->has_tag = true;
    request->tag = *value;
  }
  return {};
}

}  // namespace vireo::tag_server
