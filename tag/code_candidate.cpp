#include "tag/code_candidate.h"

namespace vireo {

namespace {

// The path buffer of the stub, terminator included.
constexpr size_t kPathBufferChars = 260;

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

// Form A: exactly three ASCII letters and three digits.
bool IsLettersThenDigits(const wchar_t* text, size_t length) {
  if (length != 6) return false;
  for (size_t i = 0; i < 3; ++i) {
    if (!IsAsciiLetter(text[i]) || !IsAsciiDigit(text[i + 3])) return false;
  }
  return true;
}

// Form B: ASCII letters and exactly one dash, the last one.
bool IsLettersAroundOneDash(const wchar_t* text, size_t length) {
  int dashes = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == L'-') {
      ++dashes;
    } else if (!IsAsciiLetter(text[i])) {
      return false;
    }
  }
  return dashes == 1;
}

}  // namespace

bool FindCodeCandidate(const wchar_t* path, size_t* code_start, size_t* code_length) {
  *code_start = 0;
  *code_length = 0;
  size_t end = 0;
  while (end < kPathBufferChars - 1 && path[end]) ++end;

  // The file name: a separator counts only when a character other than a
  // slash follows it, so "C:\\dir\\" names "dir\\".
  size_t name = 0;
  for (size_t i = 0; i + 1 < end; ++i) {
    if ((IsSlash(path[i]) || path[i] == L':') && !IsSlash(path[i + 1])) name = i + 1;
  }
  // The extension: the last dot that no blank or backslash follows.
  size_t length = end - name;
  for (size_t i = name; i < end; ++i) {
    if (path[i] == L'\\' || path[i] == L' ') {
      length = end - name;
    } else if (path[i] == L'.') {
      length = i - name;
    }
  }
  const wchar_t* text = path + name;

  // A browser's copy number: "x (12)" becomes "x ", "x()" becomes "x".
  if (length > 0 && text[length - 1] == L')') {
    size_t i = length - 1;
    while (i > 0 && IsAsciiDigit(text[i - 1])) --i;
    if (i > 0 && text[i - 1] == L'(') length = i - 1;
  }
  while (length > 0 && text[length - 1] == L' ') --length;
  if (length == 0) return false;

  size_t last_dash = length;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == L'-') last_dash = i;
  }
  if (last_dash == length) return false;
  if (IsLettersThenDigits(text + last_dash + 1, length - last_dash - 1)) {
    *code_start = name + last_dash + 1;
    *code_length = length - last_dash - 1;
    return true;
  }
  size_t previous_dash = last_dash;
  for (size_t i = 0; i < last_dash; ++i) {
    if (text[i] == L'-') previous_dash = i;
  }
  if (previous_dash == last_dash ||
      !IsLettersAroundOneDash(text + previous_dash + 1, length - previous_dash - 1)) {
    return false;
  }
  *code_start = name + previous_dash + 1;
  *code_length = length - previous_dash - 1;
  return true;
}

}  // namespace vireo
