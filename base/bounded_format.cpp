#include "base/bounded_format.h"

#include <cstdio>
#include <cwchar>

namespace vireo {

FormatResult FormatIntoVA(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
  if (capacity == 0) return FormatResult{0, false};
  const size_t room = capacity - 1;  // one character stays for the terminator
  const int written = _vsnwprintf(buffer, room, format, args);
  if (written >= 0) {
    // A text of exactly `room` characters fits but comes back unterminated.
    buffer[written] = L'\0';
    return FormatResult{static_cast<size_t>(written), true};
  }
  // -1 stands for both a text too long (the room is full, unterminated) and a
  // value that could not be converted (the runtime stopped early and
  // terminated what it wrote, when there was room).
  const size_t length = wcsnlen(buffer, room);
  buffer[length] = L'\0';
  return FormatResult{length, false};
}

FormatResult FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const FormatResult result = FormatIntoVA(buffer, capacity, format, args);
  va_end(args);
  return result;
}

}  // namespace vireo
