#pragma once
// Helpers of the logging tests: files, the registry value and environment of
// the configuration, logging objects of a test's own, writers that record what
// they receive, and the debugger output of this process read back. Scratch
// folders and Unix links are in tests/support.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/logging.h"
#include "tests/e2e/debug_output_capture.h"
#include "tests/e2e/stub_runner.h"  // PathExists

namespace vireo::test {

// The allowing entry of `acl` for the SID in `sid_text`, when there is one.
bool FindAce(PACL acl, const char* sid_text, ACCESS_MASK* mask, BYTE* flags, BYTE* type);
// Whether the DACL of `folder` allows Everyone anything (a failed test, and
// true, when it cannot be read).
bool GrantsEveryone(const std::wstring& folder);

void WriteText(const std::wstring& path, const std::string& text);
std::vector<uint8_t> ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);

// The lines of a log file: UTF-16 after a byte-order mark (which is checked
// and dropped) or 8-bit text, split at CR LF. The text after the last CR LF
// is returned as a last line only when it is not empty.
std::vector<std::wstring> ReadLogLines(const std::wstring& path, bool wide = true);

// Sets an environment variable (null: unsets it) for the scope.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::wstring name_;
  std::wstring old_value_;
  bool had_value_ = false;
};

// HKLM "Software\CorvaneSoftware\UpdateDev\" IsEnabledLogToFile for the
// scope: written with the given type and data, removed afterwards.
class ScopedLogToFileOverride {
 public:
  ScopedLogToFileOverride(DWORD type, const void* data, DWORD size);
  static ScopedLogToFileOverride Dword(DWORD value) {
    return ScopedLogToFileOverride(REG_DWORD, &value, sizeof(value));
  }
  ScopedLogToFileOverride(ScopedLogToFileOverride&& other) noexcept : active_(other.active_) {
    other.active_ = false;
  }
  ~ScopedLogToFileOverride();

 private:
  bool active_ = false;
};

// Stands in for the system clock of the configuration re-read.
class FakeClock {
 public:
  FakeClock();
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;
  // Five seconds and one 100-ns unit, the least that makes a re-read due.
  void PassRereadInterval();
  void Advance(uint64_t units);
};

// A Logging object of the test's own, whose ini file is `folder`\CorvaneUpdate.ini
// (the folder stands in as "SystemDrive" while the object is built). Its
// destruction clears logging_alive, which the process-wide object still needs:
// it is set again afterwards.
class LocalLogging {
 public:
  explicit LocalLogging(const std::wstring& system_drive);
  ~LocalLogging();
  // Destroys the object now (for tests of the destruction itself).
  void Destroy();

  Logging* operator->() { return logging_.get(); }
  Logging& operator*() { return *logging_; }
  Logging* get() { return logging_.get(); }

  // As a call site does it.
  void Log(LogCategory category, LogLevel level, const wchar_t* format, ...);

 private:
  std::unique_ptr<Logging> logging_;
};

// A writer that keeps copies of the records it receives.
class RecordingWriter : public LogWriter {
 public:
  struct Entry {
    LogCategory category;
    LogLevel level;
    std::wstring prefix;
    std::wstring message;
  };

  explicit RecordingWriter(std::vector<std::string>* order = nullptr, std::string name = "")
      : order_(order), name_(std::move(name)) {}

  bool IsEnabledFor(LogCategory category, LogLevel level) override {
    return wants_ && wants_(category, level);
  }
  bool WritesWhenDisabled() override { return writes_when_disabled_; }
  void Write(const LogRecord& record) override;

  std::vector<Entry> entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }
  std::vector<std::wstring> messages();

  std::function<bool(LogCategory, LogLevel)> wants_;
  std::function<void(const LogRecord&)> on_write_;
  bool writes_when_disabled_ = false;

 private:
  std::vector<std::string>* order_;
  std::string name_;
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

// What this process writes to the debugger output, read as a debug-output
// viewer reads it (see tests/e2e/debug_output_capture.h).
class DebugOutput {
 public:
  DebugOutput();
  bool ok() const { return capture_.ok(); }
  // The lines this process wrote since the previous call (or since the
  // object was made), once all of them have arrived.
  std::vector<std::string> Lines();
  // Whether, or how often, the lines since the previous call hold `text`.
  bool Contains(const std::string& text);
  int Count(const std::string& text);
  // Every line that other processes wrote so far.
  std::vector<std::string> OtherProcessLines();

 private:
  DebugOutputCapture capture_;
  int sync_count_ = 0;
  size_t consumed_ = 0;
};

// What the current thread writes to the debugger output, read in-process from
// the printing exception that OutputDebugString raises (whole texts of any
// length, which the viewer's 4 KB buffer would cut).
class DebugOutputExceptions {
 public:
  DebugOutputExceptions();
  ~DebugOutputExceptions();
  DebugOutputExceptions(const DebugOutputExceptions&) = delete;
  DebugOutputExceptions& operator=(const DebugOutputExceptions&) = delete;

  const std::vector<std::string>& texts() const { return texts_; }
  bool Contains(const std::string& text) const;
  int Count(const std::string& text) const;

 private:
  static LONG CALLBACK Handler(EXCEPTION_POINTERS* pointers);
  void* handler_ = nullptr;
  DWORD thread_id_ = 0;
  std::vector<std::string> texts_;
};

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// Runs this test program again as a helper process: the disabled test
// `test_name` (for example "FileLogWriterChild.DISABLED_WriteLines") with the
// given environment variables. Returns the process; the caller waits for it.
HANDLE StartHelperProcess(const std::string& test_name,
                          const std::vector<std::pair<std::wstring, std::wstring>>& environment);
// Waits for the helper and returns its exit code (0xFFFFFFFF on a time-out).
DWORD FinishHelperProcess(HANDLE process);

// The log file of the product and its folder, removed at the start and at the
// end of a test that makes them (with the backup and the folders it created).
class ScopedProductLogFile {
 public:
  ScopedProductLogFile();
  ~ScopedProductLogFile();
  const std::wstring& path() const { return path_; }
  // Removes the log's folders, up to the product's folder in the common
  // application data, where they are empty, so that a run makes them anew;
  // those removed are removed again at the end.
  void RemoveEmptyFolders();
  // False when an old log could not be removed: another program of the
  // product has it open (tests of another build running in this Wine prefix
  // at the same time, for example).
  bool removed() const { return removed_; }

 private:
  std::wstring path_;
  std::vector<std::wstring> created_folders_;
  bool removed_ = false;
};

}  // namespace vireo::test
