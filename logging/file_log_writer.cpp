#include "logging/file_log_writer.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <type_traits>
#include <utility>

#include "base/heap.h"
#include "base/path_routines.h"
#include "logging/file_operations.h"
#include "logging/logging.h"
#include "logging/logging_configuration.h"
#include "logging/path_parts.h"
#include "logging/scratch_format.h"
#include "logging/security/log_object_security.h"
#include "logging/seh_guard.h"
#include "logging/sync_mutex.h"

namespace vireo {

namespace {

constexpr const wchar_t* kLogFolder = L"CorvaneSoftware\\Update\\Log";
constexpr const wchar_t* kLogFileName = L"CorvaneUpdate.log";
constexpr const wchar_t* kMutexNamePrefix = L"_CorvaneSoftware_Update_logging_mutex_";
constexpr const wchar_t* kSessionManagerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingRenamesValue = L"PendingFileRenameOperations";
constexpr size_t kMaxPendingRenameChars = 1048575;
constexpr uint64_t kTruncationFactor = 10;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

constexpr BYTE kByteOrderMark[] = {0xFF, 0xFE};
constexpr BYTE kWideLineEnd[] = {0x0D, 0x00, 0x0A, 0x00};
constexpr BYTE kNarrowLineEnd[] = {0x0D, 0x0A};

// The filter of RunHoldingMutex's guard; `mutex` is the held mutex.
LONG ReleaseMutexOnFault(EXCEPTION_POINTERS* pointers, void* mutex) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT) ::ReleaseMutex(mutex);
  return EXCEPTION_CONTINUE_SEARCH;
}

// Runs `body` while this thread holds `mutex`, which it took, and releases the
// mutex after it. When a fault leaves the body, the mutex is released before
// any outer handler runs (the report box of the dispatch guard may stay up for
// long), so the other processes are not kept waiting on a mutex this thread
// would otherwise hold until it exits: no destructor could do that, as the
// outer guard unwinds this frame without running any. Breakpoints pass
// untouched: a debugger continues them in place.
template <typename Body>
void RunHoldingMutex(HANDLE mutex, Body&& body) {
  using BodyType = std::remove_reference_t<Body>;
  RunGuarded([](void* b) { (*static_cast<BodyType*>(b))(); }, &body, &ReleaseMutexOnFault, mutex);
  ::ReleaseMutex(mutex);
}

// Creates `folder`, and first the folders above it that are missing, each with
// the protected DACL and Administrators as owner (the log folder itself with
// the right for users to add the log file). True when the folder exists now.
bool CreateLogFolderTree(const wchar_t* folder, bool log_folder) {
  if (FileExists(folder)) return true;
  const WideString parent = GetDirectoryFromPath(folder);
  if (parent.empty() || ::lstrcmpiW(parent.c_str(), folder) == 0) return false;
  if (!CreateLogFolderTree(parent.c_str(), false)) return false;
  SecurityAttributes security = BuildLogFolderSecurity(log_folder);
  return ::CreateDirectoryW(folder, security.get()) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// A handle on the folder itself (a link or junction there is opened, not
// followed), with the access to read its attributes and its owner. The
// thread's last error is the open's.
UniqueFile OpenFolder(const wchar_t* folder) {
  return UniqueFile(::CreateFileW(folder, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
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
  file_.reset();
  if (mutex_) {
    // Fails quietly when this thread does not hold it.
    ::ReleaseMutex(mutex_.get());
    mutex_.reset();
  }
}

void FileLogWriter::Write(const LogRecord& record) {
  if (!opened_) OpenOnce();
  if (!ready_) return;
  if (!TakeWriteMutex()) return;
  RunHoldingMutex(mutex_.get(), [&] { WriteLine(record); });
}

void FileLogWriter::WriteLine(const LogRecord& record) {
  // The whole end-of-file offset: its low half alone would wrap past 4 GiB and
  // let the file grow without bound.
  LONG high = 0;
  const DWORD low = ::SetFilePointer(file_.get(), 0, &high, FILE_END);
  const uint64_t end =
      low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR
          ? 0
          : (static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low;
  if (end >= kTruncationFactor * max_size_ && !TruncateLog()) return;

  ::SetFilePointer(file_.get(), 0, nullptr, FILE_END);
  if (record.prefix) WriteText(record.prefix);
  if (record.message) WriteText(record.message);
  if (wide_) {
    WriteBytes(file_.get(), kWideLineEnd, sizeof(kWideLineEnd));
  } else {
    WriteBytes(file_.get(), kNarrowLineEnd, sizeof(kNarrowLineEnd));
  }
}

void FileLogWriter::WriteText(const wchar_t* text) {
  const size_t length = static_cast<size_t>(::lstrlenW(text));
  if (wide_) {
    WriteBytes(file_.get(), text, length * sizeof(wchar_t));
    return;
  }
  // An 8-bit log keeps the low-order byte of each UTF-16 unit.
  NarrowString narrow;
  narrow.Reserve(length);
  char* bytes = narrow.data();
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(text[i] & 0xFF);
  narrow.SetLength(length);
  WriteBytes(file_.get(), narrow.c_str(), length);
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

  RunHoldingMutex(mutex_.get(), [&] {
    OpenLogFile();
    if (!file_) {
      ::OutputDebugStringW(ScratchFormat(L"LOG_SYSTEM: [%s]: Could not create logging file %s\n",
                                         process_label_.c_str(), path_.c_str()));
    } else {
      ready_ = true;
    }
  });
}

bool FileLogWriter::CreateWriteMutex() {
  mutex_name_ = LogMutexName(path_.c_str());
  SecurityAttributes security = BuildLogMutexSecurity();
  mutex_ = CreateSyncMutex(mutex_name_.c_str(), security.get());
  return mutex_ && ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool FileLogWriter::TakeWriteMutex() {
  if (!mutex_) return false;
  const DWORD result = ::WaitForSingleObject(mutex_.get(), kLogMutexWaitMs);
  // An abandoned mutex was left by a process that died while writing: take it over.
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return true;
  ::OutputDebugStringW(ScratchFormat(L"LOG_SYSTEM: [%s]: Could not acquire logging mutex %s\n",
                                     process_label_.c_str(), mutex_name_.c_str()));
  ready_ = false;
  return false;
}

bool FileLogWriter::OpenLogFile() {
  const WideString directory = GetDirectoryFromPath(path_.c_str());
  const WideString name = GetFileNameFromPath(path_.c_str());
  // A first look along the path, before anything is created or moved: a link
  // in a folder above the log's shows only there (and Wine shows a linked
  // folder only by its path).
  if (HasReparsePointOnTheWay(directory.c_str())) {
    ReportReparsePoint();
    return false;
  }
  const UniqueFile folder = OpenLogFolder(directory.c_str());
  if (!folder) return false;

  // The file is opened relative to the checked folder's handle (NtCreateFile
  // with that root, as on every version from Windows 2000 on): it is an entry
  // of that very folder, and no path is looked up again between the check and
  // the use. Opened by path and compared afterwards, the file would need its
  // final name (GetFinalPathNameByHandleW, missing before Windows Vista) or
  // its parent's identity, which the platform does not give for a file.
  UniqueFile file;
  // Above the cap, the file found there is moved to the backup, once it has
  // passed the checks. Looked at through a handle that reads attributes only,
  // which no other process's sharing can refuse.
  if (SUCCEEDED(File::OpenRelative(folder.get(), name.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                   FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT,
                                   &file))) {
    if (!IsUsableLogFile(file.get())) return false;
    LARGE_INTEGER size = {};
    if (::GetFileSizeEx(file.get(), &size) && static_cast<uint64_t>(size.QuadPart) > max_size_) {
      MoveToBackup(file.get(), folder.get());
    }
  }

  // FILE_OPEN_REPARSE_POINT opens a link in the file's place itself rather
  // than its target, so the check below sees it. Nothing is emptied by the
  // open: CREATE_ALWAYS would empty whatever the name leads to before any
  // check could run.
  if (FAILED(File::OpenRelative(folder.get(), name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                                FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, &file)) ||
      !IsUsableLogFile(file.get())) {
    return false;
  }
  if (!append_) {
    ::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file.get());
  }

  // Through a second handle on the same file, opened for the DACL alone: the
  // writer's own handle keeps only what writing needs, and a process that may
  // not change the DACL (the file is another user's) still writes.
  UniqueFile dacl_writer;
  if (SUCCEEDED(File::OpenRelative(file.get(), L"", WRITE_DAC, kShareAll, FILE_OPEN,
                                   FILE_NON_DIRECTORY_FILE, &dacl_writer))) {
    SetLogFileDacl(dacl_writer.get());
  }

  LARGE_INTEGER size = {};
  if (wide_ && ::GetFileSizeEx(file.get(), &size) && size.QuadPart == 0) {
    ::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    WriteBytes(file.get(), kByteOrderMark, sizeof(kByteOrderMark));
  }
  file_ = std::move(file);
  return true;
}

// The log folder, created when it is missing, and checked through its handle:
// a folder, not a reparse point, owned by an administrator. Someone else's
// folder could be changed under the writer at any moment (a file swapped for
// a link, the folder for a junction); the writer does not use it at all.
UniqueFile FileLogWriter::OpenLogFolder(const wchar_t* directory) {
  UniqueFile folder = OpenFolder(directory);
  if (!folder) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return folder;
    if (!CreateLogFolderTree(directory, true)) return folder;
    folder = OpenFolder(directory);
    if (!folder) return folder;
  }
  if (IsHandleReparsePoint(folder.get())) {
    ReportReparsePoint();
    return UniqueFile();
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(folder.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return UniqueFile();
  }
  if (!IsLogFolderOwnerTrusted(folder.get())) {
    ::OutputDebugStringW(ScratchFormat(
        L"LOG_SYSTEM: [%s]: ERROR - Log folder %s is not owned by Administrators or SYSTEM",
        process_label_.c_str(), directory));
    return UniqueFile();
  }
  return folder;
}

// What the file behind `file` must be before anything is written to it,
// moved, emptied or given a DACL: a regular file with this one name. A second
// name is a hard link, and the same bytes are then another file as well,
// maybe one that the writer's user may change and the linking user may not.
bool FileLogWriter::IsUsableLogFile(HANDLE file) {
  if (IsHandleReparsePoint(file)) {
    ReportReparsePoint();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(file, &info)) return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    ReportRefusal(L"is not a regular file");
    return false;
  }
  if (info.nNumberOfLinks != 1) {
    ReportRefusal(L"has more than one link");
    return false;
  }
  return true;
}

void FileLogWriter::ReportRefusal(const wchar_t* what) {
  ::OutputDebugStringW(ScratchFormat(L"LOG_SYSTEM: [%s]: ERROR - Log file %s %s",
                                     process_label_.c_str(), path_.c_str(), what));
}

bool FileLogWriter::HasReparsePointOnTheWay(const wchar_t* directory) {
  // Every folder from the log's own up to the root, then the file itself when
  // it exists. A folder that is still to be created is none; one that exists
  // but whose attributes cannot be read counts as one.
  WideString folder(directory);
  for (;;) {
    bool reparse = FileExists(folder.c_str());
    if (reparse) File::IsReparsePoint(folder.c_str(), &reparse);
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

bool FileLogWriter::MoveToBackup(HANDLE file, HANDLE folder) {
  ::OutputDebugStringW(L"LOG_SYSTEM: trying to move log file to backup\n");
  WideString backup(path_);
  backup.Append(L".bak");
  // The checked file itself is renamed, beside itself in the checked folder.
  if (SUCCEEDED(File::Move(file, folder, GetFileNameFromPath(backup.c_str()).c_str()))) return true;
  ::OutputDebugStringW(L"LOG_SYSTEM: failed to move log file to backup\n");
  // The reboot moves whatever has the name by then; it is asked for only for
  // a file that passed the checks.
  if (!IsBackupMovePending()) File::MoveAfterReboot(path_.c_str(), backup.c_str());
  return false;
}

bool FileLogWriter::IsBackupMovePending() {
  UniqueRegistryKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS) {
    return false;
  }
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (::RegQueryValueExW(key.get(), kPendingRenamesValue, nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      type != REG_MULTI_SZ || size == 0) {
    return false;
  }
  const UniqueHeapBlock block(HeapAllocate(size));
  auto* list = static_cast<wchar_t*>(block.get());
  if (!list) return false;
  ::ZeroMemory(list, size);
  DWORD read = size;
  // The list may have changed since the size query; a longer one fails here.
  if (::RegQueryValueExW(key.get(), kPendingRenamesValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(list), &read) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return false;
  }
  const size_t count = (read < size ? read : size) / sizeof(wchar_t);
  if (count < 2 || count > kMaxPendingRenameChars || list[count - 1] != 0 || list[count - 2] != 0) {
    return false;
  }
  WideString target(L"\\??\\");
  target.Append(path_);
  // Every string, source or destination; each ends inside the list, whose
  // last unit is 0.
  for (size_t at = 0; at < count; at += static_cast<size_t>(::lstrlenW(list + at)) + 1) {
    if (::lstrcmpW(list + at, target.c_str()) == 0) return true;
  }
  return false;
}

bool FileLogWriter::TruncateLog() {
  // Through the writer's own, checked handle: an open by name could reach
  // whatever has the name by now.
  if (::SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::SetEndOfFile(file_.get())) {
    return false;
  }
  if (wide_) WriteBytes(file_.get(), kByteOrderMark, sizeof(kByteOrderMark));
  return true;
}

}  // namespace vireo
