#pragma once
// The call interface every part of the stub logs through: `logging_alive`,
// DebugTrace and the call-site macros.
//
// A call site costs one flag test while no Logging object exists, and one
// GetWriterMask call when no writer takes the line: nothing is formatted then
// unless the line is of level LL_PROGRESS (2) or more severe.

#include "logging/log_types.h"
#include "logging/logging.h"

namespace vireo {

// False until the process-wide Logging object is fully constructed, and again
// after its destructor ran.
extern bool logging_alive;

// One time-stamped line straight to the debugger output, whatever the
// configuration says and whether or not the Logging object exists. A message
// longer than the line buffer (20,480 characters with the time stamp) is cut
// and still ends in a line feed.
void DebugTrace(const wchar_t* format, ...);

// The one form of a failure line, logged where a call failed: "<call> failed
// err:<GetLastError()>", followed by " path:<path>" when `path` is given, in
// LC_CORE at LL_ERROR. The thread's last error is left as it was, for the
// caller's own summary line.
void LogFailedCall(const wchar_t* call, const wchar_t* path = nullptr);

}  // namespace vireo

// Logs one wide printf-style line ("%s" wide, "%S" narrow) through the
// process-wide Logging object. The values are evaluated after the gate, which
// keeps the thread's last error, so "err:%d" with GetLastError() still shows
// the caller's error.
#define VIREO_LOG(category, level, ...)                                               \
  do {                                                                                \
    if (::vireo::logging_alive) {                                                     \
      ::vireo::LogSite vireo_log_site_{&::vireo::g_logging, (category), (level), 0u}; \
      vireo_log_site_.mask = ::vireo::g_logging.GetWriterMask((category), (level));   \
      ::vireo::g_logging.LogMessage(&vireo_log_site_, __VA_ARGS__);                   \
    }                                                                                 \
  } while (0)

// The entry line of a major operation: "FUNCTION: <scope>::<function>" in
// LC_UTIL at LL_PROGRESS. The function's name comes from the code (__func__);
// `scope` is the wide text before it, as log readers know the operation, e.g.
// L"vireo::Tar". Some operations keep the scope their lines have always shown
// (L"vireo::`anonymous-namespace'"), which is no longer where the code lives.
#define VIREO_LOG_FUNCTION(scope) \
  VIREO_LOG(::vireo::LC_UTIL, ::vireo::LL_PROGRESS, L"FUNCTION: %s::%hs", scope, __func__)
