#include "base/logging/fatal_report.h"

#include <cstring>

#include "base/heap.h"
#include "base/owned_string.h"
#include "base/seh_guard.h"
#include "base/system_helpers.h"

namespace vireo {

namespace {

constexpr int kScratchBufferCount = 3;
constexpr size_t kScratchBufferChars = 1027;  // wvsprintfW writes at most 1,024 and a terminator.
constexpr size_t kScratchBlockBytes = kScratchBufferCount * kScratchBufferChars * sizeof(wchar_t);
static_assert(kScratchBlockBytes == 6162, "three buffers of 2,054 bytes");

constexpr wchar_t kScratchFailure[] = L"sprintf failure";

constexpr size_t kReportChars = 1025;
// The logging code's place in the sources, shown in the report next to the line.
constexpr char kLoggingSourcePath[] = "base\\logging";
constexpr UINT kReportBoxStyle =
    MB_ABORTRETRYIGNORE | MB_ICONHAND | MB_SETFOREGROUND | MB_TOPMOST | MB_SERVICE_NOTIFICATION;
static_assert(kReportBoxStyle == 0x00250012, "the report box's style");

// The scratch state; every field is used under scratch_lock only.
volatile LONG scratch_lock = 0;
bool scratch_allocated = false;
wchar_t* scratch_buffers[kScratchBufferCount] = {};
int scratch_index = 0;  // the buffer handed out last

ReportBoxFunction report_box_for_testing = nullptr;

// A spin lock rather than a critical section: it needs no initialisation, so
// the first caller may be any thread at any time, and it is held only for one
// formatting call.
void TakeScratchLock() {
  while (::InterlockedCompareExchange(&scratch_lock, 1, 0) != 0) ::Sleep(0);
}

void ReleaseScratchLock() { ::InterlockedDecrement(&scratch_lock); }

// Frees the buffers when the process exits (static destructors run then).
struct ScratchRelease {
  ~ScratchRelease() { ReleaseScratchFormatBuffers(); }
} scratch_release;

}  // namespace

const wchar_t* ScratchFormatVA(const wchar_t* format, va_list args) {
  TakeScratchLock();
  scratch_index = scratch_index + 1 == kScratchBufferCount ? 0 : scratch_index + 1;
  if (!scratch_allocated) {
    auto* block = static_cast<wchar_t*>(HeapAllocate(kScratchBlockBytes));
    if (!block) {
      // Nothing to format into: the caller still gets a text to print.
      ReleaseScratchLock();
      return kScratchFailure;
    }
    for (int i = 0; i < kScratchBufferCount; ++i)
      scratch_buffers[i] = block + i * kScratchBufferChars;
    scratch_allocated = true;
  }
  wchar_t* buffer = scratch_buffers[scratch_index];
  const bool formatted =
      Guarded([&] { ::wvsprintfW(buffer, format, args); },
              // Breakpoints are never ours to handle; any other fault stands for a bad
              // format or argument.
              [](EXCEPTION_POINTERS* pointers) -> LONG {
                return pointers->ExceptionRecord->ExceptionCode == EXCEPTION_BREAKPOINT
                           ? EXCEPTION_CONTINUE_SEARCH
                           : EXCEPTION_EXECUTE_HANDLER;
              });
  if (!formatted) ::lstrcpynW(buffer, kScratchFailure, kScratchBufferChars - 1);
  ReleaseScratchLock();
  return buffer;
}

const wchar_t* ScratchFormat(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const wchar_t* text = ScratchFormatVA(format, args);
  va_end(args);
  return text;
}

void ReleaseScratchFormatBuffers() {
  TakeScratchLock();
  if (scratch_allocated) {
    // The first buffer starts the block.
    HeapRelease(scratch_buffers[0]);
    for (wchar_t*& buffer : scratch_buffers) buffer = nullptr;
    scratch_allocated = false;
  }
  ReleaseScratchLock();
}

LONG ReportLoggingException(DWORD exception_code, int line) {
  // Also lets the debug break of Retry below reach a debugger.
  if (exception_code == EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;

  wchar_t report[kReportChars] = {};
  const WideString program = GetModuleName(nullptr);
  ::wsprintfW(report, L"Exception %x in %s %s %u\r\n\r\n%hs:%d\r\n", exception_code,
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

void CopyTextToClipboard(const wchar_t* text) {
  const int length = ::lstrlenW(text);
  if (!::OpenClipboard(nullptr)) return;
  ::EmptyClipboard();
  const SIZE_T bytes = (static_cast<SIZE_T>(length) + 1) * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes);
  void* locked = memory ? ::GlobalLock(memory) : nullptr;
  if (locked) {
    std::memcpy(locked, text, bytes);
    ::GlobalUnlock(memory);
    // On success the clipboard owns the memory. (A null handle would announce
    // text to be rendered later, which nobody will do: never pass one.)
    if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
  } else if (memory) {
    ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

void SetReportBoxForTesting(ReportBoxFunction report_box) { report_box_for_testing = report_box; }

}  // namespace vireo
