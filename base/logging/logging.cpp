// The process-wide Logging object behind the call sites. No such object is
// constructed yet, so logging_alive stays false and these are never reached;
// they keep the call sites linkable.
#include "base/logging/log_interface.h"

namespace vireo {

Logging* TheLogging() { return nullptr; }

uint32_t LoggingWriterMask(Logging*, LogCategory, LogLevel) { return 0; }

void LoggingMessage(const LogSite*, const wchar_t*, ...) {}

}  // namespace vireo
