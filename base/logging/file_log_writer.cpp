#include "base/logging/file_log_writer.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <utility>

#include "base/file_operations.h"
#include "base/heap.h"
#include "base/logging/fatal_report.h"
#include "base/logging/logging.h"
#include "base/logging/logging_configuration.h"
#include "base/security/log_object_security.h"
#include "base/seh_guard.h"
#include "base/system_helpers.h"

namespace vireo {

namespace {

constexpr const wchar_t* kLogFolder = L"CorvaneSoftware\\Update\\Log";
constexpr const wchar_t* kLogFileName = L"CorvaneUpdate.log";
constexpr const wchar_t* kMutexNamePrefix = L"_CorvaneSoftware_Update_logging_mutex_";
constexpr const wchar_t* kSessionManagerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingRenamesValue = L"PendingFileRenameOperations";
constexpr size_t kMaxPendingRenameChars = 1048575;
constexpr uint64_t kTruncationFactor = 10;

constexpr BYTE kByteOrderMark[] = {0xFF, 0xFE};
constexpr BYTE kWideLineEnd[] = {0x0D, 0x00, 0x0A, 0x00};
constexpr BYTE kNarrowLineEnd[] = {0x0D, 0x0A};

// Runs `body` while this thread holds `mutex`. When a fault leaves the body,
// the mutex is released before any outer handler runs (the report box of the
// dispatch guard may stay up for long), so the other processes are not kept
// waiting on a mutex this thread would otherwise hold until it exits.
// Breakpoints pass untouched: a debugger continues them in place.
template <typename Body>
void RunHoldingMutex(HANDLE mutex, Body&& body) {
  Guarded([&] { body(); }, [mutex](EXCEPTION_POINTERS* pointers) -> LONG {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT) ::ReleaseMutex(mutex);
    return EXCEPTION_CONTINUE_SEARCH;
  });
}

}  // namespace

WideString GetLogFilePath() {
  wchar_t path[MAX_PATH] = {};
  // S_FALSE means the folder does not exist, and leaves the path empty.
  if (::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK ||
      !path[0]) {
    return WideString();
  }
  if (!::PathAppendW(path, kLogFolder) || !::PathAppendW(path, kLogFileName)) return WideString();
  return WideString(path);
}

WideString LogMutexName(const wchar_t* path) {
  WideString name;
  for (const wchar_t* part : {kMutexNamePrefix, path}) {
    for (const wchar_t* c = part; *c; ++c) {
      if (*c != L'\\') name.Append(*c);
    }
  }
  return name;
}

uint64_t GetFileSizeFromAttributes(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &attributes)) return 0;
  // Both halves: with the low half alone a file just past 4 GiB would pass for
  // a small one and never be moved away.
  return (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
}

FileLogWriter::FileLogWriter(const wchar_t* path, bool append, const Logging& logging)
    : append_(append), path_(path) {
  const WideString ini = logging.FindIniFile();
  if (!ini.empty()) {
    max_size_ = ::GetPrivateProfileIntW(kLoggingSettingsSection, L"MaxLogFileSize",
                                        kDefaultMaxLogFileSize, ini.c_str());
    wide_ = ::GetPrivateProfileIntW(kLoggingSettingsSection, L"LogFileWide", 1, ini.c_str()) != 0;
  }
  process_label_ = logging.process_label();
}

FileLogWriter::~FileLogWriter() { Close(); }

void FileLogWriter::Close() {
  if (file_) {
    ::CloseHandle(file_);
    file_ = nullptr;
  }
  if (mutex_) {
    // Fails quietly when this thread does not hold it.
    ::ReleaseMutex(mutex_);
    ::CloseHandle(mutex_);
    mutex_ = nullptr;
  }
}

void FileLogWriter::Write(const LogRecord& record) {
  if (!opened_) OpenOnce();
  if (!ready_) return;
  if (!TakeWriteMutex()) return;
  RunHoldingMutex(mutex_, [&] { WriteLine(record); });
  ReleaseWriteMutex();
}

void FileLogWriter::WriteLine(const LogRecord& record) {
  // The whole end-of-file offset: its low half alone would wrap past 4 GiB and
  // let the file grow without bound.
  LONG high = 0;
  const DWORD low = ::SetFilePointer(file_, 0, &high, FILE_END);
  const uint64_t end =
      low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR
          ? 0
          : (static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low;
  if (end >= kTruncationFactor * max_size_ && !TruncateLog()) return;

  ::SetFilePointer(file_, 0, nullptr, FILE_END);
  if (record.prefix) WriteText(record.prefix);
  if (record.message) WriteText(record.message);
  if (wide_) {
    WriteBytes(file_, kWideLineEnd, sizeof(kWideLineEnd));
  } else {
    WriteBytes(file_, kNarrowLineEnd, sizeof(kNarrowLineEnd));
  }
}

void FileLogWriter::WriteText(const wchar_t* text) {
  const size_t length = static_cast<size_t>(::lstrlenW(text));
  if (wide_) {
    WriteBytes(file_, text, length * sizeof(wchar_t));
    return;
  }
  // An 8-bit log keeps the low-order byte of each UTF-16 unit.
  NarrowString narrow;
  narrow.Reserve(length);
  char* bytes = narrow.data();
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(text[i] & 0xFF);
  narrow.SetLength(length);
  WriteBytes(file_, narrow.c_str(), length);
}

void FileLogWriter::WriteBytes(HANDLE file, const void* bytes, size_t size) {
  if (size == 0) return;
  DWORD written = 0;
  // A failed write loses the line, or part of it; there is nowhere to report it.
  ::WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
}

void FileLogWriter::OpenOnce() {
  if (opened_) return;
  opened_ = true;

  const bool existed = CreateWriteMutex();
  if (!mutex_) return;
  // Another process has the log open: its lines must survive our open.
  if (existed) append_ = true;
  if (!TakeWriteMutex()) return;

  RunHoldingMutex(mutex_, [&] { OpenLogFile(); });
  if (!file_) {
    ::OutputDebugStringW(ScratchFormat(L"LOG_SYSTEM: [%s]: Could not create logging file %s\n",
                                       process_label_.c_str(), path_.c_str()));
  } else {
    ready_ = true;
  }
  ReleaseWriteMutex();
}

bool FileLogWriter::CreateWriteMutex() {
  mutex_name_ = LogMutexName(path_.c_str());
  SecurityAttributes security = BuildLogMutexSecurity();
  mutex_ = CreateSyncMutex(mutex_name_.c_str(), security.get());
  const DWORD error = ::GetLastError();
  return mutex_ && error == ERROR_ALREADY_EXISTS;
}

bool FileLogWriter::TakeWriteMutex() {
  if (!mutex_) return false;
  const DWORD result = ::WaitForSingleObject(mutex_, kLogMutexWaitMs);
  // An abandoned mutex was left by a process that died while writing: take it over.
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;
  ::OutputDebugStringW(ScratchFormat(L"LOG_SYSTEM: [%s]: Could not acquire logging mutex %s\n",
                                     process_label_.c_str(), mutex_name_.c_str()));
  ready_ = false;
  return false;
}

void FileLogWriter::ReleaseWriteMutex() { ::ReleaseMutex(mutex_); }

bool FileLogWriter::OpenLogFile() {
  const WideString directory = GetDirectoryFromPath(path_.c_str());
  // Checked before anything is moved, created or emptied: through a junction
  // or link on the way, CREATE_ALWAYS would empty, and the DACL below would
  // open up, a file somewhere else.
  if (HasReparsePointOnTheWay(directory.c_str())) {
    ReportReparsePoint();
    return false;
  }

  if (GetFileSizeFromAttributes(path_.c_str()) > max_size_) MoveToBackup();

  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than its target,
  // so the handle test below sees it.
  const HANDLE file = ::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, append_ ? OPEN_ALWAYS : CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    file_ = nullptr;
    return false;
  }
  file_ = file;

  // Tested again once the file is open, against a swap made in the meantime.
  bool reparse = true;
  File::IsReparsePoint(directory.c_str(), &reparse);
  if (reparse || IsHandleReparsePoint(file_)) {
    ReportReparsePoint();
    ::CloseHandle(file_);
    file_ = nullptr;
    return false;
  }

  SetLogFileDacl(path_.c_str());

  LARGE_INTEGER size = {};
  if (wide_ && ::GetFileSizeEx(file_, &size) && size.QuadPart == 0) {
    ::SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
    WriteBytes(file_, kByteOrderMark, sizeof(kByteOrderMark));
  }
  return true;
}

bool FileLogWriter::HasReparsePointOnTheWay(const wchar_t* directory) {
  // Every folder from the log's own up to the root, then the file itself when
  // it exists. A folder whose attributes cannot be read counts as one.
  WideString folder(directory);
  for (;;) {
    bool reparse = true;
    File::IsReparsePoint(folder.c_str(), &reparse);
    if (reparse) return true;
    WideString parent = GetDirectoryFromPath(folder.c_str());
    if (parent.empty() || ::lstrcmpiW(parent.c_str(), folder.c_str()) == 0) break;
    folder = std::move(parent);
  }
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  return ::GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &attributes) &&
         (attributes.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void FileLogWriter::ReportReparsePoint() {
  ::OutputDebugStringW(ScratchFormat(L"LOG_SYSTEM: [%s]: ERROR - Log path %s has a reparse point",
                                     process_label_.c_str(), path_.c_str()));
}

bool FileLogWriter::MoveToBackup() {
  ::OutputDebugStringW(L"LOG_SYSTEM: trying to move log file to backup\n");
  WideString backup(path_);
  backup.Append(L".bak");
  if (SUCCEEDED(File::Move(path_.c_str(), backup.c_str()))) return true;
  ::OutputDebugStringW(L"LOG_SYSTEM: failed to move log file to backup\n");
  if (!IsBackupMovePending()) File::MoveAfterReboot(path_.c_str(), backup.c_str());
  return false;
}

bool FileLogWriter::IsBackupMovePending() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  bool pending = false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (::RegQueryValueExW(key, kPendingRenamesValue, nullptr, &type, nullptr, &size) ==
          ERROR_SUCCESS &&
      type == REG_MULTI_SZ && size > 0) {
    auto* list = static_cast<wchar_t*>(HeapAllocate(size));
    if (list) {
      ::ZeroMemory(list, size);
      DWORD read = size;
      // The list may have changed since the size query; a longer one fails here.
      if (::RegQueryValueExW(key, kPendingRenamesValue, nullptr, &type,
                             reinterpret_cast<BYTE*>(list), &read) == ERROR_SUCCESS &&
          type == REG_MULTI_SZ) {
        const size_t count = (read < size ? read : size) / sizeof(wchar_t);
        if (count >= 2 && count <= kMaxPendingRenameChars && list[count - 1] == 0 &&
            list[count - 2] == 0) {
          WideString target(L"\\??\\");
          target.Append(path_);
          // Every string, source or destination; each ends inside the list,
          // whose last unit is 0.
          for (size_t at = 0; at < count; at += static_cast<size_t>(::lstrlenW(list + at)) + 1) {
            if (::lstrcmpW(list + at, target.c_str()) == 0) {
              pending = true;
              break;
            }
          }
        }
      }
      HeapRelease(list);
    }
  }
  ::RegCloseKey(key);
  return pending;
}

bool FileLogWriter::TruncateLog() {
  const HANDLE file = ::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (wide_) WriteBytes(file, kByteOrderMark, sizeof(kByteOrderMark));
  ::CloseHandle(file);
  return true;
}

}  // namespace vireo
