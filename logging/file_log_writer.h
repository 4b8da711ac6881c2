#pragma once
// The writer that appends lines to the one log file shared by every process of
// the product: each line goes to the current end of the file under a named
// mutex derived from the path. A file above the size cap is moved to a ".bak"
// backup at open; one that reaches ten times the cap is emptied in place.
// The file is opened, checked, moved, emptied and given its DACL through
// handles, inside a folder that an administrator owns: never through a link,
// a reparse point or a folder that someone else put in its place.

#include <windows.h>

#include <cstdint>

#include "base/owned_string.h"
#include "base/unique_handle.h"
#include "logging/log_writer.h"

namespace vireo {

class Logging;

constexpr uint32_t kDefaultMaxLogFileSize = 10000000;
constexpr DWORD kLogMutexWaitMs = 500;

// "<common application data>\CorvaneSoftware\Update\Log\CorvaneUpdate.log";
// empty when the folder cannot be found or the path does not fit MAX_PATH.
WideString GetLogFilePath();

// "_CorvaneSoftware_Update_logging_mutex_" followed by `path`, with every
// backslash removed from the whole name.
WideString LogMutexName(const wchar_t* path);

// The file's size from its attributes; 0 when they cannot be read.
uint64_t GetFileSizeFromAttributes(const wchar_t* path);

class FileLogWriter : public LogWriter {
 public:
  // Opens nothing yet. Reads "MaxLogFileSize" and "LogFileWide" from the ini
  // file of `logging` when there is one, and copies its process label.
  FileLogWriter(const wchar_t* path, bool append, const Logging& logging);
  ~FileLogWriter() override;

  // Closes the file and the mutex (releasing it first, in case it is held).
  void Close() override;
  // Opens the file at the first record; then writes prefix, message and a
  // line end at the end of the file while holding the mutex. Once the mutex
  // could not be had within 500 ms, or the file could not be opened, the
  // writer writes nothing more.
  void Write(const LogRecord& record) override;

  uint32_t max_size() const { return max_size_; }
  bool opened() const { return opened_; }
  bool ready() const { return ready_; }
  bool append() const { return append_; }
  bool wide() const { return wide_; }
  const WideString& mutex_name() const { return mutex_name_; }
  const WideString& path() const { return path_; }

 private:
  void OpenOnce();
  bool CreateWriteMutex();
  bool TakeWriteMutex();
  bool OpenLogFile();
  bool HasReparsePointOnTheWay(const wchar_t* directory);
  void ReportReparsePoint();
  UniqueFile OpenLogFolder(const wchar_t* directory);
  bool IsUsableLogFile(HANDLE file);
  void ReportRefusal(const wchar_t* what);
  bool MoveToBackup(HANDLE file, HANDLE folder);
  bool IsBackupMovePending();
  bool TruncateLog();
  void WriteLine(const LogRecord& record);
  void WriteText(const wchar_t* text);
  void WriteBytes(HANDLE file, const void* bytes, size_t size);

  uint32_t max_size_ = kDefaultMaxLogFileSize;
  bool opened_ = false;
  bool ready_ = false;
  bool append_;
  bool wide_ = true;
  WideString mutex_name_;
  UniqueKernelHandle mutex_;
  WideString path_;
  UniqueFile file_;
  WideString process_label_;
};

}  // namespace vireo
