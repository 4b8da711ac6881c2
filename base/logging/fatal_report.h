#pragma once
// Faults inside the logging code: the scratch formatter for the logging
// system's own diagnostic lines, and the two exception filters its guards use.
//
// The filters take what a guard's filter lambda passes on, for example:
//   Guarded([&] { ... },
//           [](EXCEPTION_POINTERS* p) {
//             return ReportLoggingException(p->ExceptionRecord->ExceptionCode, 567);
//           });

#include <windows.h>

#include <cstdarg>

namespace vireo {

// Formats with wvsprintfW (at most 1,024 characters) into the next of three
// rotating process-wide buffers and returns it; the text stays valid until
// three further calls. A fault while formatting yields "sprintf failure".
// Any thread may call it.
const wchar_t* ScratchFormat(const wchar_t* format, ...);
const wchar_t* ScratchFormatVA(const wchar_t* format, va_list args);

// Frees the scratch buffers (run at process exit); a later ScratchFormat
// allocates them again.
void ReleaseScratchFormatBuffers();

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

// Puts `text` on the clipboard as Unicode text; does nothing when the clipboard
// cannot be opened.
void CopyTextToClipboard(const wchar_t* text);

// Tests answer the report box here (a display may be missing under test). Pass
// null to restore MessageBoxW.
using ReportBoxFunction = int(WINAPI*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);
void SetReportBoxForTesting(ReportBoxFunction report_box);

}  // namespace vireo
