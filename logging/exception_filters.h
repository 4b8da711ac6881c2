#pragma once
// The two exception filters of the logging code's guards: the report of a
// fault in the logging object, and the quiet one of message formatting.
//
// The filters take what a guard's filter lambda passes on, for example:
//   Guarded([&] { ... },
//           [](EXCEPTION_POINTERS* p) {
//             return ReportLoggingException(p->ExceptionRecord->ExceptionCode, 567);
//           });

#include <windows.h>

namespace vireo {

// Filter of the logging object's guards: passes breakpoints on
// (EXCEPTION_CONTINUE_SEARCH); otherwise copies a report naming the code, the
// program and `line` to the clipboard and shows it in an Abort/Retry/Ignore box.
// Abort ends the process with 0xFFFFFFFF; Retry raises a breakpoint, then like
// Ignore (or a box that fails) returns EXCEPTION_EXECUTE_HANDLER.
LONG ReportLoggingException(DWORD exception_code, int line);

// Quiet filter of message formatting: EXCEPTION_CONTINUE_SEARCH for a
// breakpoint or when a debugger is attached; otherwise marks the event on the
// debugger output and returns EXCEPTION_EXECUTE_HANDLER.
LONG SehSendMinidump(DWORD exception_code, EXCEPTION_POINTERS* pointers);

// Tests answer the report box here (a display may be missing under test). Pass
// null to restore MessageBoxW.
using ReportBoxFunction = int(WINAPI*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);
void SetReportBoxForTesting(ReportBoxFunction report_box);

}  // namespace vireo
