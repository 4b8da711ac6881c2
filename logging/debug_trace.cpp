#include <windows.h>

#include <cstdarg>

#include "base/bounded_format.h"
#include "logging/log_interface.h"

namespace vireo {

namespace {

constexpr int kDebugTraceChars = 20480;

}  // namespace

void DebugTrace(const wchar_t* format, ...) {
  // Zeroed: when the runtime cannot convert a value, the text it wrote before
  // ends at a zero whether or not the runtime terminated it.
  wchar_t buffer[kDebugTraceChars] = {};
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  // Both parts leave the last two characters free, for the line feed and the
  // terminator: a message too long is cut and the line still ends.
  constexpr size_t kTextCapacity = kDebugTraceChars - 1;
  size_t length =
      FormatInto(buffer, kTextCapacity, L"[%02d/%02d/%02d %02d:%02d:%02d.%03d] ", now.wMonth,
                 now.wDay, now.wYear % 100, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds)
          .length;
  va_list args;
  va_start(args, format);
  length += FormatIntoVA(buffer + length, kTextCapacity - length, format, args).length;
  va_end(args);

  buffer[length] = L'\n';
  buffer[length + 1] = L'\0';
  ::OutputDebugStringW(buffer);
}

}  // namespace vireo
