#include "logging/debug_out_log_writer.h"

#include <windows.h>

#include "base/owned_string.h"
#include "logging/scratch_format.h"

namespace vireo {

namespace {

// The scratch formatter stops at 1,024 characters; the line feed and the
// terminator must fit too.
constexpr int kScratchLineChars = 1022;

}  // namespace

void DebugOutLogWriter::Write(const LogRecord& record) {
  const wchar_t* prefix = record.prefix ? record.prefix : L"";
  const wchar_t* message = record.message ? record.message : L"";
  const int length = ::lstrlenW(prefix) + ::lstrlenW(message);
  if (length <= kScratchLineChars) {
    ::OutputDebugStringW(ScratchFormat(L"%s%s\n", prefix, message));
    return;
  }
  // Cut at the scratch size, a long line would also lose its line feed, and
  // sent in pieces it would show as several lines in a debug-output viewer.
  WideString line(prefix);
  line.Append(message);
  line.Append(L'\n');
  ::OutputDebugStringW(line.c_str());
}

}  // namespace vireo
