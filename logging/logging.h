#pragma once
// The process-wide Logging object: gates every call site, formats each line
// once, puts the prefix (time, process label, process and thread id) in front
// of it and hands it to the ETW, file and debug-output writers. Its settings
// come from the ini file at the system drive's root and one registry value,
// read at construction and again at most every five seconds.

#include <cstdarg>
#include <cstdint>

#include "base/owned_string.h"
#include "logging/critical_section_lock.h"
#include "logging/log_types.h"
#include "logging/log_writer.h"
#include "logging/unique_writer.h"

namespace vireo {

class DebugOutLogWriter;
class EtwLogWriter;
class FileLogWriter;

class Logging {
 public:
  static constexpr int kMaxWriters = 15;
  static constexpr int kCategoryCount = 10;

  struct CategoryLevel {
    bool enabled;
    LogLevel level;
  };

  // Computes the ini path and the process label, sets logging_alive and reads
  // the configuration. No writer exists until the first GetWriterMask.
  Logging();
  // Deletes the writers (closing the log file, unregistering the ETW
  // provider) and clears logging_alive.
  ~Logging();
  Logging(const Logging&) = delete;
  Logging& operator=(const Logging&) = delete;

  // The per-call gate: 0 when nothing takes the line, all bits when the
  // category table enables it, else bit i for each writer i that asks for it.
  // Configures the writers at the first call and re-reads the configuration
  // when five seconds have passed. Keeps the thread's last error.
  uint32_t GetWriterMask(LogCategory category, LogLevel level);

  // The entry of every call site: formats and dispatches with the site's
  // mask, category and level. Keeps the thread's last error.
  void LogMessage(const LogSite* site, const wchar_t* format, ...);

  // Takes the lock (20 tries, 50 ms apart) and formats and dispatches the
  // line; drops it with a "LOG_SYSTEM:" note on the debugger output when the
  // lock stays taken. Returns at once for a null format, or for mask 0 at a
  // level above 2.
  void LogMessageV(uint32_t mask, LogCategory category, LogLevel level, const wchar_t* format,
                   va_list args);

  // True once writers are configured (or logging is configured off for now);
  // false after shutdown or while the writers are being set up on this thread.
  bool EnsureInitialized();

  // Switch logging on (configuring the writers) or off (detaching them). Each
  // acts only when the switch is not already in that state.
  void EnableLogging();
  void DisableLogging();

  // Appends `writer` to the writer list; false when the list is full or the
  // writer is null. A writer that is already attached stays attached once.
  bool AttachWriter(LogWriter* writer);
  // Removes `writer`, moving the last entry into its place; false when absent.
  bool DetachWriter(LogWriter* writer);

  // Reads the registry value and the ini file into the settings and the
  // category table; defaults for whatever is absent.
  void ReadConfiguration();

  // The ini path when the file exists now, else an empty string.
  WideString FindIniFile() const;

  // Read-only state, for the writers and for tests.
  const WideString& process_label() const { return process_label_; }
  const WideString& ini_file_path() const { return ini_file_path_; }
  bool initialized() const { return initialized_; }
  bool enabled() const { return enabled_; }
  bool show_time() const { return show_time_; }
  bool log_to_file() const { return log_to_file_; }
  bool log_to_debug_out() const { return log_to_debug_out_; }
  bool append_to_file() const { return append_to_file_; }
  CategoryLevel category_level(LogCategory category) const;
  int writer_count() const { return writer_count_; }
  LogWriter* writer(int index) const;
  FileLogWriter* file_writer() const;
  DebugOutLogWriter* debug_out_writer() const;
  EtwLogWriter* etw_writer() const;

 private:
  bool InternalInitialize();
  bool ConfigureWriters();
  void ConfigureFileLogWriter();
  void InternalLogMessageMaskedVA(uint32_t mask, LogCategory category, LogLevel level,
                                  const wchar_t* format, va_list args);
  void FormatLinePrefix(WideString* prefix);
  void DispatchRecord(uint32_t mask, const LogRecord& record);
  void DeleteWriters();
  uint64_t last_config_read() const;
  void set_last_config_read(uint64_t time);

  // Field order matters: members are destroyed in reverse, so the ini path
  // goes first, then the lock, then the process label.
  CategoryLevel category_levels_[kCategoryCount] = {};
  bool initialized_ = false;
  bool initializing_ = false;
  WideString process_label_;
  CriticalSectionLock lock_;
  bool enabled_ = true;
  bool show_time_ = true;
  bool log_to_file_ = false;
  bool log_to_debug_out_ = true;
  bool append_to_file_ = true;
  bool shut_down_ = false;
  // 100-ns units since 1601 (GetSystemTimeAsFileTime); read and written as
  // one 64-bit unit because the gate runs without the lock on any thread.
  volatile int64_t last_config_read_ = 0;
  WideString ini_file_path_;
  int writer_count_ = 0;
  LogWriter* writers_[kMaxWriters] = {};
  // The writers the object makes, in the order of their deletion; owned from
  // creation to destruction and created at most once each.
  enum BuiltInWriter { kEtwWriter, kFileWriter, kDebugOutWriter, kBuiltInWriterCount };
  UniqueWriter built_in_writers_[kBuiltInWriterCount];
};

// The process-wide object. It is constructed before the program's other static
// objects and destroyed after them; call sites use it only while
// logging_alive is true.
extern Logging g_logging;

// The label shown in every line prefix: the executable's name without its
// extension, followed by ":" and the logging module's name when that differs.
WideString ComputeProcessLabel();

}  // namespace vireo
