#pragma once
// The value types of the logging call interface: levels, categories, what a
// call site fills and what a writer receives.

#include <cstdint>

namespace vireo {

class Logging;

// Smaller is more severe; a message at level m passes a configured level k when m <= k.
using LogLevel = int32_t;
constexpr LogLevel LL_FATAL = -3;
constexpr LogLevel LL_ERROR = -2;
constexpr LogLevel LL_WARNING = -1;
// The level every named category is configured at when nothing else is set.
constexpr LogLevel LL_DEFAULT = 1;
// Operation entry lines ("FUNCTION: ...") and progress lines; the least severe
// level still formatted when no writer takes the line.
constexpr LogLevel LL_PROGRESS = 2;
// The traces of module names.
constexpr LogLevel LL_DETAIL = 5;
// The configured level of LC_ALWAYS, which passes every line.
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

// What a call site fills before it logs.
struct LogSite {
  Logging* logger;
  LogCategory category;
  LogLevel level;
  uint32_t mask;
};

// What each writer receives. Both strings belong to the logging core and are
// valid only during the writer's Write call.
struct LogRecord {
  LogCategory category;
  LogLevel level;
  const wchar_t* prefix;
  const wchar_t* message;
};

}  // namespace vireo
