#pragma once
// Formatting into an owned string whose buffer grows until the text fits.

#include <windows.h>

#include <cstdarg>

#include "base/owned_string.h"

namespace vireo {

// Formats into `output`, growing from 256 characters by doubling until the text
// fits. Returns S_OK, or E_INVALIDARG when the text cannot fit any buffer;
// `output` then holds what was formatted so far.
HRESULT FormatString(WideString* output, const wchar_t* format, ...);
HRESULT FormatStringVA(WideString* output, const wchar_t* format, va_list args);

// Appends the formatted text to `output`, also when formatting failed (then
// with what was formatted so far).
void AppendFormatString(WideString* output, const wchar_t* format, ...);

}  // namespace vireo
