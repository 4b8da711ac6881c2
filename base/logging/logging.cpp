#include "base/logging/logging.h"

#include <windows.h>

#include <cwchar>

#include "base/logging/debug_out_log_writer.h"
#include "base/logging/etw_log_writer.h"
#include "base/logging/fatal_report.h"
#include "base/logging/file_log_writer.h"
#include "base/logging/log_interface.h"
#include "base/logging/logging_configuration.h"
#include "base/path_routines.h"
#include "base/seh_guard.h"
#include "base/system_helpers.h"

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
constexpr size_t kFirstMessageChars = 512;
constexpr size_t kMaxMessageChars = 1048576;

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

// Formats into a buffer of 512 characters, doubling it while the text does not
// fit, up to 1,048,576 characters; a longer text is cut to 1,048,575.
void FormatMessageText(WideString* message, const wchar_t* format, va_list args) {
  for (size_t chars = kFirstMessageChars;; chars *= 2) {
    const size_t count = chars - 1;  // one character stays for the terminator
    message->Reserve(count);
    wchar_t* buffer = message->data();
    buffer[count] = L'\0';
    va_list pass;
    va_copy(pass, args);
    const int written = _vsnwprintf(buffer, count, format, pass);
    va_end(pass);
    if (written >= 0) {
      message->SetLength(static_cast<size_t>(written));
      return;
    }
    // -1 also reports a conversion failure, which stops short of the end of
    // the buffer: a bigger buffer would not help, so keep what was written.
    const size_t length = wcsnlen(buffer, count);
    if (length < count || chars >= kMaxMessageChars) {
      message->SetLength(length);
      return;
    }
  }
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
  lock_.Lock();
  const bool completed = Guarded(
      [&] {
        shut_down_ = true;
        DeleteWriters();
      },
      &ReportAtLine<kDestructorLine>);
  if (!completed) ::OutputDebugStringA("Unexpected exception in: vireo::Logging::~Logging\r\n");
  initialized_ = false;
  logging_alive = false;
  lock_.Unlock();
}

void Logging::DeleteWriters() {
  // Every writer the object created is deleted exactly once, attached or not:
  // a writer that DisableLogging detached still holds its file and its trace
  // registration. Each pointer is cleared before its deletion, so a fault in
  // one destructor cannot make a later one run twice.
  writer_count_ = 0;
  for (LogWriter*& writer : writers_) writer = nullptr;
  LogWriter* owned[] = {etw_writer_, file_writer_, debug_out_writer_};
  etw_writer_ = nullptr;
  file_writer_ = nullptr;
  debug_out_writer_ = nullptr;
  for (LogWriter* writer : owned) delete writer;
}

Logging::CategoryLevel Logging::category_level(LogCategory category) const {
  if (category < 0 || category >= kCategoryCount) return CategoryLevel{false, 0};
  return category_levels_[category];
}

LogWriter* Logging::writer(int index) const {
  return index >= 0 && index < writer_count_ ? writers_[index] : nullptr;
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
  if (mask == 0 && level > 2) return;

  const LastErrorKeeper keep_last_error;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (lock_.TryLock(0)) {
      InternalLogMessageMaskedVA(mask, category, level, format, args);
      lock_.Unlock();
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
        FormatMessageText(&message, format, args);
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
  prefix->Clear();
  if (show_time_) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FormatString(prefix, L"[%02d/%02d/%02d %02d:%02d:%02d.%03d]", now.wMonth, now.wDay,
                 now.wYear % 100, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  }
  AppendFormatString(prefix, L"[%s][%u:%u]", process_label_.c_str(),
                     static_cast<unsigned>(::GetCurrentProcessId()),
                     static_cast<unsigned>(::GetCurrentThreadId()));
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
  lock_.Lock();
  const bool result = InternalInitialize();
  lock_.Unlock();
  return result;
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
  if (!etw_writer_) etw_writer_ = new EtwLogWriter();
  if (etw_writer_) AttachWriter(etw_writer_);

  ConfigureFileLogWriter();

  if (log_to_debug_out_) {
    if (!debug_out_writer_) debug_out_writer_ = new DebugOutLogWriter();
    if (debug_out_writer_) AttachWriter(debug_out_writer_);
  }
  return writer_count_ > 0;
}

void Logging::ConfigureFileLogWriter() {
  DebugTrace(L"ConfigureFileLogWriter");
  if (!log_to_file_) return;

  if (!file_writer_) {
    const WideString path = GetLogFilePath();
    if (path.empty()) {
      DebugTrace(L"no file log");
      return;
    }
    DebugTrace(L"file log path:%s", path.c_str());
    // The writer makes a missing log folder itself, with a DACL of its own:
    // one made here would inherit what the common application data grants.
    file_writer_ = new FileLogWriter(path.c_str(), append_to_file_, *this);
  }
  if (file_writer_) AttachWriter(file_writer_);
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
  lock_.Lock();
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
  lock_.Unlock();
}

void Logging::DisableLogging() {
  if (!EnsureInitialized()) return;
  lock_.Lock();
  const bool completed = Guarded(
      [&] {
        if (enabled_) {
          enabled_ = false;
          if (etw_writer_) DetachWriter(etw_writer_);
          if (file_writer_) DetachWriter(file_writer_);
          if (debug_out_writer_) DetachWriter(debug_out_writer_);
        }
      },
      &ReportAtLine<kDisableLoggingLine>);
  if (!completed) {
    ::OutputDebugStringA("Unexpected exception in: vireo::Logging::DisableLogging\r\n");
    enabled_ = false;
  }
  lock_.Unlock();
}

}  // namespace vireo
