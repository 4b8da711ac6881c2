#pragma once
// The one formatter into a buffer of fixed size that every bounded caller uses,
// so that there is one rule for where a text stops and how it ends.

#include <cstdarg>
#include <cstddef>

namespace vireo {

struct FormatResult {
  size_t length;  // characters before the terminator
  bool whole;     // the whole text fit
};

// Formats with the C runtime's wide printf ("%s" wide, "%S" and "%hs" narrow)
// into `buffer`, which holds `capacity` characters, the terminator included.
// Writes at most capacity - 1 characters and always a terminator after them.
// When the text does not fit, the buffer holds its first capacity - 1
// characters and `whole` is false. When the runtime cannot convert a value,
// `whole` is false too and the buffer holds what the runtime wrote up to its
// terminator (at most capacity - 1 characters). A capacity of 0 writes
// nothing and gives {0, false}. A value that faults (a bad pointer) faults
// here: callers that must survive it guard the call.
FormatResult FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
FormatResult FormatIntoVA(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);

}  // namespace vireo
