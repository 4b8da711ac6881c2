#include "logging/format_string.h"

#include <utility>

#include "base/bounded_format.h"

namespace vireo {

namespace {

constexpr size_t kFirstFormatCapacity = 256;
constexpr size_t kMaxFormatCapacity = 0x7FFFFFFF;

size_t TextLength(const wchar_t* text) {
  size_t length = 0;
  while (text[length]) ++length;
  return length;
}

}  // namespace

HRESULT FormatStringVA(WideString* output, const wchar_t* format, va_list args) {
  const size_t format_length = TextLength(format);
  size_t capacity = format_length < kFirstFormatCapacity ? kFirstFormatCapacity : format_length;
  // Formatted aside, so that the output's own text may be one of the values.
  WideString text;
  HRESULT result;
  for (;;) {
    text.Reserve(capacity);
    va_list attempt;
    va_copy(attempt, args);
    // Formatted into one character less than the buffer holds, so the longest
    // text at a capacity is capacity - 2 characters (254 of 256).
    const bool whole = FormatIntoVA(text.data(), capacity - 1, format, attempt).whole;
    va_end(attempt);
    if (whole) {
      result = S_OK;
      break;
    }
    if (capacity == kMaxFormatCapacity) {
      result = E_INVALIDARG;
      break;
    }
    capacity = capacity > kMaxFormatCapacity / 2 ? kMaxFormatCapacity : capacity * 2;
  }
  text.SyncLength();
  *output = std::move(text);
  return result;
}

HRESULT FormatString(WideString* output, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const HRESULT result = FormatStringVA(output, format, args);
  va_end(args);
  return result;
}

void AppendFormatString(WideString* output, const wchar_t* format, ...) {
  WideString text;
  va_list args;
  va_start(args, format);
  FormatStringVA(&text, format, args);
  va_end(args);
  output->Append(text);
}

}  // namespace vireo
