// Feeds arbitrary paths, as UTF-16 code units, to the referral code search of
// the stub's file name. Beyond not crashing, a code it finds must lie within
// the first 259 characters and have one of the two shapes: three ASCII letters and three digits, or ASCII letters with exactly
// one dash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tag/code_candidate.h"

namespace {

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool HasCodeShape(const wchar_t* code, size_t length) {
  if (length == 6 && IsLetter(code[0]) && IsLetter(code[1]) && IsLetter(code[2]) &&
      IsDigit(code[3]) && IsDigit(code[4]) && IsDigit(code[5])) {
    return true;
  }
  size_t dashes = 0;
  for (size_t i = 0; i < length; ++i) {
    if (code[i] == L'-') {
      ++dashes;
    } else if (!IsLetter(code[i])) {
      return false;
    }
  }
  return dashes == 1;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two bytes a code unit, as the stub's wide text; zero ends the path early.
  std::vector<wchar_t> path;
  for (size_t i = 0; i + 1 < size; i += 2) path.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
  path.push_back(L'\0');
  size_t path_length = 0;
  while (path[path_length]) ++path_length;

  size_t start = 7, length = 7;
  if (!vireo::FindCodeCandidate(path.data(), &start, &length)) {
    Require(start == 0 && length == 0);
    return 0;
  }
  Require(length > 0 && start + length <= path_length && start + length <= 259);
  Require(HasCodeShape(path.data() + start, length));
  return 0;
}
