#include "logging/exception_filters.h"

#include "base/bounded_format.h"
#include "base/owned_string.h"
#include "logging/clipboard.h"
#include "logging/module_name.h"

namespace vireo {

namespace {

constexpr size_t kReportChars = 1025;
// The logging code's place in the sources as reports have always named it,
// shown next to the line; fixed, like the line numbers, whatever the folder.
constexpr char kLoggingSourcePath[] = "base\\logging";
constexpr UINT kReportBoxStyle =
    MB_ABORTRETRYIGNORE | MB_ICONHAND | MB_SETFOREGROUND | MB_TOPMOST | MB_SERVICE_NOTIFICATION;
static_assert(kReportBoxStyle == 0x00250012, "the report box's style");

ReportBoxFunction report_box_for_testing = nullptr;

}  // namespace

LONG ReportLoggingException(DWORD exception_code, int line) {
  // Also lets the debug break of Retry below reach a debugger.
  if (exception_code == EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;

  wchar_t report[kReportChars] = {};
  const WideString program = GetModuleName(nullptr);
  FormatInto(report, kReportChars, L"Exception %x in %s %s %u\r\n\r\n%hs:%d\r\n", exception_code,
             program.c_str(), L"", 0u, kLoggingSourcePath, line);
  CopyTextToClipboard(report);

  const ReportBoxFunction report_box =
      report_box_for_testing ? report_box_for_testing : &::MessageBoxW;
  switch (report_box(nullptr, report, L"Exception", kReportBoxStyle)) {
    case IDABORT:
      ::ExitProcess(0xFFFFFFFF);
    case IDRETRY:
      ::DebugBreak();
      return EXCEPTION_EXECUTE_HANDLER;
    default:
      // Ignore, and a box that could not be shown (0).
      return EXCEPTION_EXECUTE_HANDLER;
  }
}

LONG SehSendMinidump(DWORD exception_code, EXCEPTION_POINTERS*) {
  if (exception_code == EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;
  // An attached debugger sees the fault where it happened.
  if (::IsDebuggerPresent()) return EXCEPTION_CONTINUE_SEARCH;
  ::OutputDebugStringA("**SehSendMinidump**\r\n");
  return EXCEPTION_EXECUTE_HANDLER;
}

void SetReportBoxForTesting(ReportBoxFunction report_box) { report_box_for_testing = report_box; }

}  // namespace vireo
