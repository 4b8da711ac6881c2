#include "payload/member_name.h"

namespace vireo {
namespace {

template <typename Char>
unsigned CodeOf(Char c) {
  // Narrow text: take bytes as unsigned so 0x80..0xFF are not negative.
  return sizeof(Char) == 1 ? static_cast<unsigned char>(c) : static_cast<unsigned>(c);
}

template <typename Char>
unsigned UpperAscii(Char c) {
  const unsigned code = CodeOf(c);
  return code >= 'a' && code <= 'z' ? code - ('a' - 'A') : code;
}

bool IsForbiddenCharacter(unsigned code) {
  if (code < 0x20) return true;
  switch (code) {
    case '<': case '>': case ':': case '"': case '/': case '\\': case '|': case '?': case '*':
      return true;
    default:
      return false;
  }
}

// True when `stem` (the name up to its first dot, trailing blanks removed, as
// Windows compares it) is a device name.
template <typename Char>
bool IsDeviceStem(const Char* stem, size_t length) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    size_t i = 0;
    while (i < length && device[i] && UpperAscii(stem[i]) == static_cast<unsigned>(device[i])) ++i;
    if (i == length && !device[i]) return true;
  }
  if (length != 4) return false;
  const bool com = UpperAscii(stem[0]) == 'C' && UpperAscii(stem[1]) == 'O' &&
                   UpperAscii(stem[2]) == 'M';
  const bool lpt = UpperAscii(stem[0]) == 'L' && UpperAscii(stem[1]) == 'P' &&
                   UpperAscii(stem[2]) == 'T';
  if (!com && !lpt) return false;
  const unsigned digit = CodeOf(stem[3]);
  // Windows also reserves the superscript digits one to three after COM and LPT.
  return (digit >= '0' && digit <= '9') ||
         (sizeof(Char) > 1 && (digit == 0xB9 || digit == 0xB2 || digit == 0xB3));
}

template <typename Char>
bool IsSafeName(const Char* name, size_t length) {
  if (!name || length == 0) return false;
  for (size_t i = 0; i < length; ++i) {
    if (IsForbiddenCharacter(CodeOf(name[i]))) return false;
  }
  // Windows drops a trailing dot or blank, which also rules out "." and "..".
  const unsigned last = CodeOf(name[length - 1]);
  if (last == '.' || last == ' ') return false;
  size_t stem = 0;
  while (stem < length && CodeOf(name[stem]) != '.') ++stem;
  while (stem > 0 && CodeOf(name[stem - 1]) == ' ') --stem;
  return !IsDeviceStem(name, stem);
}

}  // namespace

bool IsSafeMemberName(const wchar_t* name, size_t length) { return IsSafeName(name, length); }

bool IsSafeMemberName(const char* name, size_t length) { return IsSafeName(name, length); }

}  // namespace vireo
