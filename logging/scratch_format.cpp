#include "logging/scratch_format.h"

#include <windows.h>

#include "base/bounded_format.h"
#include "base/heap.h"
#include "logging/seh_guard.h"

namespace vireo {

namespace {

constexpr int kScratchBufferCount = 3;
constexpr size_t kScratchTextChars = 1024;
// The text, its terminator and two spare characters, as the block has always
// been laid out.
constexpr size_t kScratchBufferChars = 1027;
constexpr size_t kScratchBlockBytes = kScratchBufferCount * kScratchBufferChars * sizeof(wchar_t);
static_assert(kScratchBlockBytes == 6162, "three buffers of 2,054 bytes");
static_assert(kScratchTextChars < kScratchBufferChars, "room for the terminator");

constexpr wchar_t kScratchFailure[] = L"sprintf failure";

// The scratch state; every field is used under scratch_lock only.
volatile LONG scratch_lock = 0;
bool scratch_allocated = false;
wchar_t* scratch_buffers[kScratchBufferCount] = {};
int scratch_index = 0;  // the buffer handed out last

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
      Guarded([&] { FormatIntoVA(buffer, kScratchTextChars + 1, format, args); },
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

}  // namespace vireo
