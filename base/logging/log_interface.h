#pragma once
// The call interface every part of the stub logs through: levels, categories,
// the record and writer types, `logging_alive`, and the call-site macros.
//
// A call site costs one flag test while no Logging object exists: nothing is
// formatted and nothing is called.

#include <cstdint>

namespace vireo {

// Smaller is more severe; a message at level m passes a configured level k when m <= k.
using LogLevel = int32_t;
constexpr LogLevel LL_FATAL = -3;
constexpr LogLevel LL_ERROR = -2;
constexpr LogLevel LL_WARNING = -1;
constexpr LogLevel LL_ALL = 7;

enum LogCategory : int32_t {
  LC_ALWAYS = 0,
  LC_UTIL = 1,
  LC_SETUP = 2,
  LC_SHELL = 3,
  LC_CORE = 4,
  LC_JS = 5,
  LC_SERVICE = 6,
  LC_OPT = 7,
  LC_NET = 8,
  LC_REPORT = 9,
};

// Names of categories 1 to 9, which are also their configuration keys.
struct LogCategoryName {
  const wchar_t* name;
  LogCategory category;
};
extern const LogCategoryName kLogCategoryNames[9];

// False until the process-wide Logging object is fully constructed, and again
// after its destructor ran.
extern bool logging_alive;

class Logging;

struct LogSite {
  Logging* logger;
  LogCategory category;
  LogLevel level;
  uint32_t mask;
};

// Both strings belong to the logging core and are valid only during Write.
struct LogRecord {
  LogCategory category;
  LogLevel level;
  const wchar_t* prefix;
  const wchar_t* message;
};

class LogWriter {
 public:
  // Releases the writer's system resources; each writer's destructor calls its own.
  virtual void Close() {}
  virtual ~LogWriter() = default;
  virtual bool WritesWhenDisabled() { return false; }
  virtual bool IsEnabledFor(LogCategory, LogLevel) { return false; }
  virtual void Write(const LogRecord&) {}
};

// The process-wide logging object; only valid while logging_alive is true.
Logging* TheLogging();

// Gate and hand-over of one call site (see VIREO_LOG).
uint32_t LoggingWriterMask(Logging* logger, LogCategory category, LogLevel level);
void LoggingMessage(const LogSite* site, const wchar_t* format, ...);

// One time-stamped line straight to the debugger output, whatever the
// configuration says and whether or not the Logging object exists. A message
// longer than the line buffer is cut.
void DebugTrace(const wchar_t* format, ...);

}  // namespace vireo

// Logs one wide printf-style line ("%s" wide, "%S" narrow) through the
// process-wide Logging object.
#define VIREO_LOG(category, level, ...)                                                  \
  do {                                                                                   \
    if (::vireo::logging_alive) {                                                        \
      ::vireo::LogSite vireo_log_site_{::vireo::TheLogging(), (category), (level), 0u};  \
      vireo_log_site_.mask = ::vireo::LoggingWriterMask(vireo_log_site_.logger,          \
                                                        (category), (level));           \
      ::vireo::LoggingMessage(&vireo_log_site_, __VA_ARGS__);                            \
    }                                                                                    \
  } while (0)

// The entry line of a major operation: "FUNCTION: <scoped name>".
#define VIREO_LOG_FUNCTION(scoped_name) \
  VIREO_LOG(::vireo::LC_UTIL, 2, L"FUNCTION: %s", scoped_name)
