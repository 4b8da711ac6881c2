#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "base/logging/log_interface.h"

namespace vireo {

namespace {

constexpr int kDebugTraceChars = 20480;

}  // namespace

void DebugTrace(const wchar_t* format, ...) {
  wchar_t buffer[kDebugTraceChars] = {};
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  int n = _snwprintf(buffer, kDebugTraceChars - 1, L"[%02d/%02d/%02d %02d:%02d:%02d.%03d] ",
                     now.wMonth, now.wDay, now.wYear % 100, now.wHour, now.wMinute,
                     now.wSecond, now.wMilliseconds);
  if (n < 0) n = 0;

  // The formatter writes at most the last-but-one character, so the buffer's
  // last character stays 0. It reports -1 both when the message did not fit
  // (the line is then cut at the end of the buffer) and when a value could not
  // be converted (it stopped early): the length written counts either way.
  va_list args;
  va_start(args, format);
  const int m = _vsnwprintf(buffer + n, kDebugTraceChars - 1 - n, format, args);
  va_end(args);
  n = m < 0 ? static_cast<int>(wcsnlen(buffer, kDebugTraceChars - 1)) : n + m;

  if (n < kDebugTraceChars - 1) {
    buffer[n] = L'\n';
    buffer[n + 1] = L'\0';
  } else {
    buffer[kDebugTraceChars - 2] = L'\n';
    buffer[kDebugTraceChars - 1] = L'\0';
  }
  ::OutputDebugStringW(buffer);
}

}  // namespace vireo
