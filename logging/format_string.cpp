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

FormatResult FormatGrowingVA(WideString* text, const FormatGrowth& growth, const wchar_t* format,
                             va_list args) {
  for (size_t capacity = growth.first_capacity;;) {
    text->Reserve(capacity);
    va_list attempt;
    va_copy(attempt, args);
    const FormatResult result =
        FormatIntoVA(text->data(), capacity + 1 - growth.unused, format, attempt);
    va_end(attempt);
    if (result.whole || capacity == growth.max_capacity ||
        (growth.stop_when_short && result.length < capacity - growth.unused)) {
      text->SetLength(result.length);
      return result;
    }
    capacity = capacity > growth.max_capacity / 2 ? growth.max_capacity : capacity * 2;
  }
}

HRESULT FormatStringVA(WideString* output, const wchar_t* format, va_list args) {
  const size_t format_length = TextLength(format);
  // Formatted into one character less than the buffer holds, so the longest
  // text at a capacity is capacity - 2 characters (254 of 256); a value that
  // cannot be converted does not stop the growth.
  const FormatGrowth growth{
      format_length < kFirstFormatCapacity ? kFirstFormatCapacity : format_length,
      kMaxFormatCapacity, 2, false};
  // Formatted aside, so that the output's own text may be one of the values.
  WideString text;
  const bool whole = FormatGrowingVA(&text, growth, format, args).whole;
  *output = std::move(text);
  return whole ? S_OK : E_INVALIDARG;
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
