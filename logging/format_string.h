#pragma once
// Formatting into an owned string whose buffer grows until the text fits.

#include <windows.h>

#include <cstdarg>
#include <cstddef>

#include "base/bounded_format.h"
#include "base/owned_string.h"

namespace vireo {

// How a text grows into an owned string: the one growing formatter's rules.
struct FormatGrowth {
  size_t first_capacity;  // characters the first buffer holds, the terminator aside
  size_t max_capacity;    // the most it grows to, doubling from the first
  // Characters of each buffer the text never takes: at most capacity - unused
  // characters fit.
  size_t unused;
  // When true, a value the runtime cannot convert (the text stops short of a
  // full buffer) ends the growth, since a bigger buffer would not help.
  bool stop_when_short;
};

// Formats into `text` with the bounded formatter, growing its buffer by
// `growth` until the text fits, the buffer reached its largest, or (if asked)
// a value could not be converted. `text` then holds what the last pass wrote;
// the result is that pass's.
FormatResult FormatGrowingVA(WideString* text, const FormatGrowth& growth, const wchar_t* format,
                             va_list args);

// Formats into `output`, growing from 256 characters by doubling until the text
// fits. Returns S_OK, or E_INVALIDARG when the text cannot fit any buffer;
// `output` then holds what was formatted so far.
HRESULT FormatString(WideString* output, const wchar_t* format, ...);
HRESULT FormatStringVA(WideString* output, const wchar_t* format, va_list args);

// Appends the formatted text to `output`, also when formatting failed (then
// with what was formatted so far).
void AppendFormatString(WideString* output, const wchar_t* format, ...);

}  // namespace vireo
