#include "tools/tag_server/byte_range.h"

#include <optional>

namespace vireo::tag_server {

namespace {

// Decimal digits only; a number too large for 64 bits saturates, which
// places it past the end of any file.
std::optional<uint64_t> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return value;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

ByteRange ParseByteRange(std::string_view header, uint64_t size) {
  const ByteRange whole;
  header = Trim(header);
  constexpr std::string_view kUnit = "bytes=";
  if (header.size() < kUnit.size()) return whole;
  for (size_t i = 0; i < kUnit.size(); ++i) {
    const char c = header[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kUnit[i]) return whole;
  }
  const std::string_view range_set = Trim(header.substr(kUnit.size()));
  if (range_set.find(',') != std::string_view::npos) return whole;
  const size_t dash = range_set.find('-');
  if (dash == std::string_view::npos) return whole;
  const std::string_view first_text = Trim(range_set.substr(0, dash));
  const std::string_view last_text = Trim(range_set.substr(dash + 1));

  ByteRange range;
  range.kind = ByteRange::Kind::kPart;
  if (first_text.empty()) {
    const std::optional<uint64_t> suffix = ParseNumber(last_text);
    if (!suffix) return whole;
    if (*suffix == 0 || size == 0) return ByteRange{ByteRange::Kind::kUnsatisfiable, 0, 0};
    range.first = *suffix >= size ? 0 : size - *suffix;
    range.last = size - 1;
    return range;
  }
  const std::optional<uint64_t> first = ParseNumber(first_text);
  if (!first) return whole;
  std::optional<uint64_t> last = size == 0 ? 0 : size - 1;
  if (!last_text.empty()) {
    last = ParseNumber(last_text);
    if (!last || *last < *first) return whole;
  }
  if (*first >= size) return ByteRange{ByteRange::Kind::kUnsatisfiable, 0, 0};
  range.first = *first;
  range.last = *last >= size ? size - 1 : *last;
  return range;
}

}  // namespace vireo::tag_server
