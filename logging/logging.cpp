#include "logging/logging.h"

#include <windows.h>

#include "base/bounded_format.h"
#include "logging/debug_out_log_writer.h"
#include "logging/etw_log_writer.h"
#include "logging/exception_filters.h"
#include "logging/file_log_writer.h"
#include "logging/format_string.h"
#include "logging/log_interface.h"
#include "logging/logging_configuration.h"
#include "logging/module_name.h"
#include "logging/scratch_format.h"
#include "logging/seh_guard.h"

namespace vireo {

// Constructed in the first group of static initialisers (priority 101 is the
// earliest the compiler gives to program code), so every static object of the
// program that logs from its constructor finds logging_alive set. The
// initialiser registers the destructor with atexit right after the
// construction, so it runs after the destructors of every later static object.
// A construct-on-first-use object would leave logging_alive false until the
// first call site, which never asks.
Logging g_logging __attribute__((init_priority(101)));

namespace {

constexpr uint64_t kConfigurationRereadInterval = 50000000;  // five seconds in 100-ns units
constexpr int kLockAttempts = 20;
constexpr DWORD kLockRetryDelayMs = 50;
// A buffer of 512 characters, doubling while the text does not fit, up to
// 1,048,576; a longer text is cut to 1,048,575. A value that cannot be
// converted stops the text short of a full buffer: a bigger buffer would not
// help, so what was written is kept.
constexpr FormatGrowth kMessageGrowth{512, 1048576, 1, true};

// The numbers the exception report shows for each guarded section. They name
// the section, wherever it stands in this file now, and stay fixed so that a
// report read years later still points at the same place.
constexpr int kInternalInitializeLine = 518;
constexpr int kEnableLoggingLine = 567;
constexpr int kDisableLoggingLine = 592;
constexpr int kDestructorLine = 275;
constexpr int kDispatchLine = 880;

// Call sites evaluate GetLastError() for their "err:%d" after the gate ran, and
// may read it again after the line was logged.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : error_(::GetLastError()) {}
  ~LastErrorKeeper() { ::SetLastError(error_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD error_;
};

template <int kLine>
LONG ReportAtLine(EXCEPTION_POINTERS* pointers) {
  return ReportLoggingException(pointers->ExceptionRecord->ExceptionCode, kLine);
}

void ReportCallAfterShutdown() {
  const WideString label = ComputeProcessLabel();
  ::OutputDebugStringW(ScratchFormat(
      L"LOG_SYSTEM: [%s]: ERROR - Calling the logging system after it has been shut down \n",
      label.c_str()));
}

}  // namespace

WideString ComputeProcessLabel() {
  WideString label = GetModuleNameWithoutExtension(nullptr);
  // The allocation base of the region holding this code is the module that
  // carries the logging code.
  MEMORY_BASIC_INFORMATION region = {};
  HMODULE logging_module = nullptr;
  if (::VirtualQuery(reinterpret_cast<const void*>(&ComputeProcessLabel), &region,
                     sizeof(region))) {
    logging_module = static_cast<HMODULE>(region.AllocationBase);
  }
  const WideString module_name = GetModuleNameWithoutExtension(logging_module);
  if (::lstrcmpiW(module_name.c_str(), label.c_str()) != 0) {
    label.Append(L':');
    label.Append(module_name);
  }
  return label;
}

Logging::Logging() {
  ini_file_path_ = ComputeIniFilePath();
  // logging_alive is still false, so the module-name helpers log nothing here.
  process_label_ = ComputeProcessLabel();
  logging_alive = true;
  ReadConfiguration();
}

Logging::~Logging() {
  const ScopedLock hold(lock_);
  const bool completed = Guarded(
      [&] {
        shut_down_ = true;
        DeleteWriters();
      },
      &ReportAtLine<kDestructorLine>);
  if (!completed) {
    ::OutputDebugStringA("Unexpected exception in: vireo::Logging::~Logging\r\n");
    // The writers after the one that faulted are let go: deleted with the
    // members, they would be torn down outside any guard.
    for (UniqueWriter& writer : built_in_writers_) writer.release();
  }
  initialized_ = false;
  logging_alive = false;
}

void Logging::DeleteWriters() {
  // Every writer the object created is deleted exactly once, attached or not:
  // a writer that DisableLogging detached still holds its file and its trace
  // registration. The ETW writer goes first, the debug-output writer last.
  writer_count_ = 0;
  for (LogWriter*& writer : writers_) writer = nullptr;
  for (UniqueWriter& writer : built_in_writers_) writer.reset();
}

Logging::CategoryLevel Logging::category_level(LogCategory category) const {
  if (category < 0 || category >= kCategoryCount) return CategoryLevel{false, 0};
  return category_levels_[category];
}

LogWriter* Logging::writer(int index) const {
  return index >= 0 && index < writer_count_ ? writers_[index] : nullptr;
}

FileLogWriter* Logging::file_writer() const {
  return static_cast<FileLogWriter*>(built_in_writers_[kFileWriter].get());
}

DebugOutLogWriter* Logging::debug_out_writer() const {
  return static_cast<DebugOutLogWriter*>(built_in_writers_[kDebugOutWriter].get());
}

EtwLogWriter* Logging::etw_writer() const {
  return static_cast<EtwLogWriter*>(built_in_writers_[kEtwWriter].get());
}

uint64_t Logging::last_config_read() const {
  // A compare-exchange that never changes the value is the one 64-bit atomic
  // read available on every i686 processor.
  return static_cast<uint64_t>(
      ::InterlockedCompareExchange64(const_cast<volatile int64_t*>(&last_config_read_), 0, 0));
}

void Logging::set_last_config_read(uint64_t time) {
  ::InterlockedExchange64(&last_config_read_, static_cast<int64_t>(time));
}

uint32_t Logging::GetWriterMask(LogCategory category, LogLevel level) {
  const LastErrorKeeper keep_last_error;
  if (!EnsureInitialized()) return 0;

  const bool was_enabled = enabled_;
  // Not under the lock: the settings are single bytes and 32-bit words.
  if (CurrentSystemTime() > last_config_read() + kConfigurationRereadInterval) {
    ReadConfiguration();
  }
  if (enabled_ != was_enabled) {
    if (enabled_) {
      EnableLogging();
    } else {
      DisableLogging();
    }
  }
  if (!enabled_) return 0;
  if (category < 0 || category >= kCategoryCount) return 0;

  const CategoryLevel& configured = category_levels_[category];
  if (configured.enabled && level <= configured.level) return 0xFFFFFFFFu;

  uint32_t mask = 0;
  for (int i = writer_count_ - 1; i >= 0; --i) {
    mask <<= 1;
    LogWriter* writer = writers_[i];
    if (writer && writer->IsEnabledFor(category, level)) mask |= 1;
  }
  return mask;
}

void Logging::LogMessage(const LogSite* site, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  site->logger->LogMessageV(site->mask, site->category, site->level, format, args);
  va_end(args);
}

void Logging::LogMessageV(uint32_t mask, LogCategory category, LogLevel level,
                          const wchar_t* format, va_list args) {
  if (!format) return;
  if (mask == 0 && level > LL_PROGRESS) return;

  const LastErrorKeeper keep_last_error;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (lock_.TryLock(0)) {
      const ScopedLock hold(lock_, ScopedLock::kAdopt);
      InternalLogMessageMaskedVA(mask, category, level, format, args);
      return;
    }
    ::Sleep(kLockRetryDelayMs);
  }
  ::OutputDebugStringA("LOG_SYSTEM: Couldn't acquire lock - ");
  ::OutputDebugStringW(format);
  ::OutputDebugStringA("\n\r");
}

void Logging::InternalLogMessageMaskedVA(uint32_t mask, LogCategory category, LogLevel level,
                                         const wchar_t* format, va_list args) {
  // The strings live outside the guarded call, so a fault inside it cannot
  // skip their destructors.
  WideString message;
  WideString prefix;
  const bool completed = Guarded(
      [&] {
        FormatGrowingVA(&message, kMessageGrowth, format, args);
        FormatLinePrefix(&prefix);
        const LogRecord record{category, level, prefix.c_str(), message.c_str()};
        DispatchRecord(mask, record);
      },
      [](EXCEPTION_POINTERS* pointers) {
        return SehSendMinidump(pointers->ExceptionRecord->ExceptionCode, pointers);
      });
  if (!completed) {
    ::OutputDebugStringA("Unexpected exception in: vireo::Logging::InternalLogMessageMaskedVA\r\n");
    ::OutputDebugStringW(format);
    ::OutputDebugStringA("\n\r");
  }
}

void Logging::FormatLinePrefix(WideString* prefix) {
  const unsigned process_id = ::GetCurrentProcessId();
  const unsigned thread_id = ::GetCurrentThreadId();
  if (show_time_) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FormatString(prefix, L"[%02d/%02d/%02d %02d:%02d:%02d.%03d][%s][%u:%u]", now.wMonth, now.wDay,
                 now.wYear % 100, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                 process_label_.c_str(), process_id, thread_id);
  } else {
    FormatString(prefix, L"[%s][%u:%u]", process_label_.c_str(), process_id, thread_id);
  }
}

void Logging::DispatchRecord(uint32_t mask, const LogRecord& record) {
  for (int i = 0; i < writer_count_; ++i, mask >>= 1) {
    if ((mask & 1) == 0) continue;
    LogWriter* writer = writers_[i];
    if (!writer) continue;
    // Each writer's turn is guarded on its own: a fault in one writer does not
    // keep the line from the later ones.
    Guarded(
        [&] {
          if (enabled_ || writer->WritesWhenDisabled()) writer->Write(record);
        },
        &ReportAtLine<kDispatchLine>);
  }
}

bool Logging::EnsureInitialized() {
  if (shut_down_) {
    ReportCallAfterShutdown();
    return false;
  }
  if (initialized_) return true;
  const ScopedLock hold(lock_);
  return InternalInitialize();
}

bool Logging::InternalInitialize() {
  ::OutputDebugStringW(L"InternalInitialize");
  bool result = false;
  const bool completed = Guarded(
      [&] {
        if (shut_down_) {
          ReportCallAfterShutdown();
          return;
        }
        if (initialized_) {
          result = true;
          return;
        }
        // A logging call made on this thread while the writers are being set
        // up gets mask 0.
        if (initializing_) return;
        initializing_ = true;
        ReadConfiguration();
        if (enabled_) initialized_ = ConfigureWriters();
        initializing_ = false;
        result = true;
      },
      &ReportAtLine<kInternalInitializeLine>);
  if (!completed) {
    ::OutputDebugStringA("Unexpected exception in: vireo::Logging::InternalInitialize\r\n");
    initialized_ = false;
    // Left set, the flag would make every later call return false and silence
    // logging for the rest of the process; the next call tries again.
    initializing_ = false;
    return false;
  }
  return result;
}

bool Logging::ConfigureWriters() {
  // AttachWriter refuses a writer that could not be allocated.
  UniqueWriter& etw = built_in_writers_[kEtwWriter];
  if (!etw) etw.reset(new EtwLogWriter());
  AttachWriter(etw.get());

  ConfigureFileLogWriter();

  if (log_to_debug_out_) {
    UniqueWriter& debug_out = built_in_writers_[kDebugOutWriter];
    if (!debug_out) debug_out.reset(new DebugOutLogWriter());
    AttachWriter(debug_out.get());
  }
  return writer_count_ > 0;
}

void Logging::ConfigureFileLogWriter() {
  DebugTrace(L"ConfigureFileLogWriter");
  if (!log_to_file_) return;

  UniqueWriter& file = built_in_writers_[kFileWriter];
  if (!file) {
    const WideString path = GetLogFilePath();
    if (path.empty()) {
      DebugTrace(L"no file log");
      return;
    }
    DebugTrace(L"file log path:%s", path.c_str());
    // The writer makes a missing log folder itself, with a DACL of its own:
    // one made here would inherit what the common application data grants.
    file.reset(new FileLogWriter(path.c_str(), append_to_file_, *this));
  }
  AttachWriter(file.get());
}

bool Logging::AttachWriter(LogWriter* writer) {
  if (!writer) return false;
  // Attached twice, a writer would receive every line twice.
  for (int i = 0; i < writer_count_; ++i) {
    if (writers_[i] == writer) return true;
  }
  if (writer_count_ >= kMaxWriters) return false;
  writers_[writer_count_++] = writer;
  return true;
}

bool Logging::DetachWriter(LogWriter* writer) {
  for (int i = 0; i < writer_count_; ++i) {
    if (writers_[i] == writer) {
      --writer_count_;
      writers_[i] = writers_[writer_count_];
      writers_[writer_count_] = nullptr;
      return true;
    }
  }
  return false;
}

void Logging::EnableLogging() {
  if (!EnsureInitialized()) return;
  const ScopedLock hold(lock_);
  const bool completed = Guarded(
      [&] {
        if (!enabled_) {
          ConfigureWriters();
          enabled_ = true;
        }
      },
      &ReportAtLine<kEnableLoggingLine>);
  if (!completed) {
    ::OutputDebugStringA("Unexpected exception in: vireo::Logging::EnableLogging\r\n");
    enabled_ = false;
  }
}

void Logging::DisableLogging() {
  if (!EnsureInitialized()) return;
  const ScopedLock hold(lock_);
  const bool completed = Guarded(
      [&] {
        if (enabled_) {
          enabled_ = false;
          // DetachWriter finds no writer that was never made.
          for (const UniqueWriter& writer : built_in_writers_) DetachWriter(writer.get());
        }
      },
      &ReportAtLine<kDisableLoggingLine>);
  if (!completed) {
    ::OutputDebugStringA("Unexpected exception in: vireo::Logging::DisableLogging\r\n");
    enabled_ = false;
  }
}

}  // namespace vireo
