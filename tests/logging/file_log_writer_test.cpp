// The file writer on real files, named mutexes and security descriptors, with
// helper processes (this program run again) for the cases that take more than
// one process.
#include "logging/file_log_writer.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "logging/log_interface.h"
#include "logging/security/log_object_security.h"
#include "logging/seh_guard.h"
#include "tests/logging/logging_test_support.h"
#include "tests/logging/pending_renames.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/unix_symbolic_link.h"

namespace vireo {
namespace {

using test::DebugOutputExceptions;
using test::FindAce;
using test::GrantsEveryone;
using test::LocalLogging;
using test::ScratchFolder;

std::vector<uint8_t> Utf16(const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  return std::vector<uint8_t>(bytes, bytes + text.size() * sizeof(wchar_t));
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<uint8_t> kBom = {0xFF, 0xFE};

// Which file a handle or a path leads to, and how many names it has.
struct FileIdentity {
  bool valid = false;
  DWORD volume = 0;
  uint64_t index = 0;
  DWORD links = 0;
  bool operator==(const FileIdentity& other) const {
    return valid == other.valid && volume == other.volume && index == other.index;
  }
};

FileIdentity IdentityOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info = {};
  FileIdentity identity;
  if (!GetFileInformationByHandle(handle, &info)) return identity;
  identity.valid = true;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.links = info.nNumberOfLinks;
  return identity;
}

FileIdentity IdentityOf(const std::wstring& path) {
  HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FileIdentity();
  const FileIdentity identity = IdentityOf(handle);
  CloseHandle(handle);
  return identity;
}

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t value[32768] = {};
  GetEnvironmentVariableW(name, value, 32768);
  return value;
}

// A log folder and path of the test's own, and a Logging object (for the ini
// keys and the process label) whose system drive is a scratch folder too.
class FileWriter : public ::testing::Test {
 protected:
  FileWriter() {
    folder_ = logs_.Child(L"Log");
    CreateDirectoryW(folder_.c_str(), nullptr);
    path_ = folder_ + L"\\CorvaneUpdate.log";
  }
  void WriteIni(const std::string& settings) {
    test::WriteText(drive_.Child(L"CorvaneUpdate.ini"), "[LoggingSettings]\r\n" + settings);
  }
  FileLogWriter& writer(bool append = true) {
    if (!logging_) logging_.emplace(drive_.path());
    if (!writer_) writer_ = std::make_unique<FileLogWriter>(path_.c_str(), append, **logging_);
    return *writer_;
  }
  void Write(const std::wstring& prefix, const std::wstring& message) {
    writer().Write(LogRecord{LC_CORE, LL_ERROR, prefix.c_str(), message.c_str()});
  }
  std::vector<uint8_t> Bytes() { return test::ReadBytes(path_); }

  ScratchFolder drive_;
  ScratchFolder logs_;
  std::wstring folder_;
  std::wstring path_;
  std::optional<LocalLogging> logging_;
  std::unique_ptr<FileLogWriter> writer_;
};

TEST(FileLogWriterNames, LogPathAndMutexName) {
  wchar_t common[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common),
            S_OK);
  EXPECT_EQ(std::wstring(GetLogFilePath().c_str()),
            std::wstring(common) + L"\\CorvaneSoftware\\Update\\Log\\CorvaneUpdate.log");
  EXPECT_EQ(std::wstring(
                LogMutexName(L"C:\\ProgramData\\CorvaneSoftware\\Update\\Log\\CorvaneUpdate.log")
                    .c_str()),
            L"_CorvaneSoftware_Update_logging_mutex_C:ProgramDataCorvaneSoftwareUpdateLogCorvaneUpdate.log");
}

TEST_F(FileWriter, NothingIsOpenedBeforeTheFirstLine) {
  FileLogWriter& log = writer();
  EXPECT_FALSE(log.opened());
  EXPECT_FALSE(test::PathExists(path_));
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, LogMutexName(path_.c_str()).c_str()), nullptr);
  EXPECT_EQ(log.max_size(), 10000000u);
  EXPECT_TRUE(log.wide());
  EXPECT_FALSE(log.WritesWhenDisabled());
  EXPECT_FALSE(log.IsEnabledFor(LC_ALWAYS, LL_FATAL));
}

TEST_F(FileWriter, NewWideFileStartsWithTheByteOrderMark) {
  Write(L"[prefix]", L"first line");
  Write(L"[p]", L"");
  EXPECT_TRUE(writer().ready());
  EXPECT_EQ(std::wstring(writer().mutex_name().c_str()), std::wstring(LogMutexName(path_.c_str()).c_str()));
  EXPECT_EQ(Bytes(), kBom + Utf16(L"[prefix]first line\r\n[p]\r\n"));
  // The mutex exists while the writer lives, and is not held between lines.
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, LogMutexName(path_.c_str()).c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

TEST_F(FileWriter, EightBitFileKeepsTheLowByteOfEachUnit) {
  WriteIni("LogFileWide=0\r\n");
  EXPECT_FALSE(writer().wide());
  Write(L"[p]", L"price \u20ac5");
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{'[', 'p', ']', 'p', 'r', 'i', 'c', 'e', ' ', 0xAC, '5',
                                           0x0D, 0x0A}));
}

TEST_F(FileWriter, AppendKeepsAnExistingFile) {
  const std::vector<uint8_t> existing = kBom + Utf16(L"old\r\n");
  test::WriteBytes(path_, existing);
  Write(L"", L"new");
  EXPECT_EQ(Bytes(), existing + Utf16(L"new\r\n"));
}

TEST_F(FileWriter, WithoutAppendTheFileIsEmptiedAndStartsAgain) {
  test::WriteBytes(path_, kBom + Utf16(L"old\r\n"));
  writer(false);
  Write(L"", L"new");
  EXPECT_EQ(Bytes(), kBom + Utf16(L"new\r\n"));
}

TEST_F(FileWriter, FileAboveTheCapIsMovedToTheBackup) {
  WriteIni("MaxLogFileSize=100\r\n");
  const std::vector<uint8_t> big(101, 'x');
  test::WriteBytes(path_, big);
  test::WriteText(path_ + L".bak", "older backup");
  DebugOutputExceptions output;
  Write(L"", L"fresh");
  EXPECT_EQ(writer().max_size(), 100u);
  EXPECT_EQ(test::ReadBytes(path_ + L".bak"), big);
  EXPECT_EQ(Bytes(), kBom + Utf16(L"fresh\r\n"));
  EXPECT_TRUE(output.Contains("LOG_SYSTEM: trying to move log file to backup\n"));
  EXPECT_FALSE(output.Contains("LOG_SYSTEM: failed to move"));
}

TEST_F(FileWriter, FileOfExactlyTheCapStays) {
  WriteIni("MaxLogFileSize=100\r\n");
  const std::vector<uint8_t> full = kBom + std::vector<uint8_t>(98, 'x');
  test::WriteBytes(path_, full);
  Write(L"", L"more");
  EXPECT_FALSE(test::PathExists(path_ + L".bak"));
  EXPECT_EQ(Bytes(), full + Utf16(L"more\r\n"));
}

// The file is emptied once its end has reached ten times the cap; the line
// that found it so starts the emptied file.
TEST_F(FileWriter, FileIsEmptiedAtTenTimesTheCap) {
  WriteIni("MaxLogFileSize=10\r\n");
  const std::wstring message(21, L'a');  // 46 bytes a line, with CR LF
  Write(L"", message);                    // ends at 48
  Write(L"", message);                    // 94
  Write(L"", message);                    // 140
  EXPECT_EQ(Bytes().size(), 140u);
  Write(L"", L"after");
  EXPECT_EQ(Bytes(), kBom + Utf16(L"after\r\n"));
}

// Sparse files past 4 GiB, whose sizes only their high halves tell apart.
void ExtendFile(const std::wstring& path, int64_t size) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = size;
  ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
}

TEST_F(FileWriter, FileJustPastFourGigabytesIsMovedToTheBackup) {
  ExtendFile(path_, 0x100000001ll);
  EXPECT_EQ(GetFileSizeFromAttributes(path_.c_str()), 0x100000001ull);
  Write(L"", L"fresh");
  EXPECT_EQ(GetFileSizeFromAttributes((path_ + L".bak").c_str()), 0x100000001ull);
  EXPECT_EQ(Bytes(), kBom + Utf16(L"fresh\r\n"));
}

TEST_F(FileWriter, FileGrownPastTenTimesTheCapBeyondFourGigabytesIsEmptied) {
  WriteIni("MaxLogFileSize=500000000\r\n");
  Write(L"", L"one");
  ExtendFile(path_, 5000000001ll);  // its low half alone is far below 5,000,000,000
  Write(L"", L"two");
  EXPECT_EQ(Bytes(), kBom + Utf16(L"two\r\n"));
}

TEST_F(FileWriter, CapZeroKeepsOnlyTheLatestLine) {
  WriteIni("MaxLogFileSize=0\r\n");
  test::WriteBytes(path_, kBom + Utf16(L"old\r\n"));
  Write(L"[p]", L"one");
  EXPECT_EQ(test::ReadBytes(path_ + L".bak"), kBom + Utf16(L"old\r\n"));
  EXPECT_EQ(Bytes(), kBom + Utf16(L"[p]one\r\n"));
  Write(L"[p]", L"two");
  EXPECT_EQ(Bytes(), kBom + Utf16(L"[p]two\r\n"));
}

TEST_F(FileWriter, EightBitFileIsEmptiedWithoutAByteOrderMark) {
  WriteIni("MaxLogFileSize=0\r\nLogFileWide=0\r\n");
  Write(L"", L"one");
  Write(L"", L"two");
  EXPECT_EQ(Bytes(), (std::vector<uint8_t>{'t', 'w', 'o', 0x0D, 0x0A}));
}

// A backup that cannot be replaced (here a folder of that name) fails the
// move: it is scheduled for the next reboot, once, and the big file stays in
// use.
TEST_F(FileWriter, FailedBackupIsScheduledForTheNextReboot) {
  test::PendingRenames pending;
  WriteIni("MaxLogFileSize=10\r\n");
  CreateDirectoryW((path_ + L".bak").c_str(), nullptr);
  const std::vector<uint8_t> big = kBom + Utf16(L"0123456789\r\n");
  test::WriteBytes(path_, big);

  DebugOutputExceptions output;
  Write(L"", L"next");
  EXPECT_TRUE(output.Contains("LOG_SYSTEM: trying to move log file to backup\n"));
  EXPECT_TRUE(output.Contains("LOG_SYSTEM: failed to move log file to backup\n"));
  EXPECT_EQ(Bytes(), big + Utf16(L"next\r\n"));
  EXPECT_EQ(pending.Added(),
            (std::vector<std::wstring>{L"\\??\\" + path_, L"!\\??\\" + path_ + L".bak"}));

  // Already pending: not scheduled again.
  writer_.reset();
  Write(L"", L"again");
  EXPECT_EQ(pending.Added().size(), 2u);
  RemoveDirectoryW((path_ + L".bak").c_str());
}

TEST_F(FileWriter, LogFolderThatIsAReparsePointIsRefused) {
  ScratchFolder target;
  RemoveDirectoryW(folder_.c_str());
  test::ScopedUnixSymbolicLink linked(target.path(), folder_);
  ASSERT_TRUE(linked.made());
  DebugOutputExceptions output;
  Write(L"", L"line");
  EXPECT_FALSE(writer().ready());
  EXPECT_FALSE(test::PathExists(target.Child(L"CorvaneUpdate.log")));
  EXPECT_TRUE(output.Contains("]: ERROR - Log path " + test::Narrow(path_) + " has a reparse point"));
  EXPECT_TRUE(output.Contains("]: Could not create logging file " + test::Narrow(path_) + "\n"));
  Write(L"", L"never");
  EXPECT_FALSE(test::PathExists(target.Child(L"CorvaneUpdate.log")));
}

// A folder or file swapped for a link after the path was looked at: only the
// handle shows it, as the reparse attribute of what was opened (which Wine
// cannot produce, hence the stand-in for GetFileInformationByHandle, which
// reports every folder, or every file, as a reparse point).
template <bool kFolders>
BOOL WINAPI ReparsePointsAmong(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  if (!GetFileInformationByHandle(file, info)) return FALSE;
  const bool folder = (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder == kFolders) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return TRUE;
}

TEST_F(FileWriter, AFolderOrFileThatBecameALinkIsRefusedThroughItsHandle) {
  const struct {
    const char* label;
    GetFileInformationByHandleFunction reported;
  } cases[] = {
      {"the log folder", &ReparsePointsAmong<true>},
      {"the log file", &ReparsePointsAmong<false>},
  };
  // Above the size cap, so that a writer that went on would move it away.
  WriteIni("MaxLogFileSize=100\r\n");
  std::vector<uint8_t> precious = kBom + Utf16(L"keep\r\n");
  precious.resize(200, 'k');
  for (const auto& one : cases) {
    SCOPED_TRACE(one.label);
    test::WriteBytes(path_, precious);
    writer_.reset();
    DebugOutputExceptions output;
    SetGetFileInformationByHandleForTesting(one.reported);
    Write(L"", L"line");
    SetGetFileInformationByHandleForTesting(nullptr);
    EXPECT_FALSE(writer().ready());
    EXPECT_TRUE(output.Contains("]: ERROR - Log path " + test::Narrow(path_) + " has a reparse point"));
    EXPECT_EQ(Bytes(), precious);
    EXPECT_FALSE(test::PathExists(path_ + L".bak"));
    writer_.reset();
  }
}

// A link higher up the path is refused too, before anything is moved, created
// or emptied through it.
TEST_F(FileWriter, LinkHigherUpThePathIsRefused) {
  ScratchFolder target;
  CreateDirectoryW(target.Child(L"Log").c_str(), nullptr);
  const std::vector<uint8_t> precious = kBom + Utf16(L"keep\r\n");
  test::WriteBytes(target.Child(L"Log\\CorvaneUpdate.log"), precious);
  test::ScopedUnixSymbolicLink linked(target.path(), logs_.Child(L"Linked"));
  ASSERT_TRUE(linked.made());
  path_ = logs_.Child(L"Linked\\Log\\CorvaneUpdate.log");
  DebugOutputExceptions output;
  writer(false);
  Write(L"", L"line");
  EXPECT_FALSE(writer().ready());
  EXPECT_TRUE(output.Contains("]: ERROR - Log path " + test::Narrow(path_) + " has a reparse point"));
  EXPECT_EQ(test::ReadBytes(target.Child(L"Log\\CorvaneUpdate.log")), precious);
}

TEST_F(FileWriter, MutexHeldLongerThanTheWaitSilencesTheWriter) {
  Write(L"", L"one");
  HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const std::wstring name = LogMutexName(path_.c_str()).c_str();
  std::thread holder([&] {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    WaitForSingleObject(mutex, INFINITE);
    SetEvent(taken);
    WaitForSingleObject(release, 30000);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  });
  ASSERT_EQ(WaitForSingleObject(taken, 10000), WAIT_OBJECT_0);
  DebugOutputExceptions output;
  Write(L"", L"two");
  SetEvent(release);
  holder.join();
  Write(L"", L"three");
  EXPECT_EQ(output.Count("LOG_SYSTEM: [logging_tests]: Could not acquire logging mutex " +
                         test::Narrow(name) + "\n"),
            1);
  EXPECT_FALSE(writer().ready());
  EXPECT_EQ(Bytes(), kBom + Utf16(L"one\r\n"));
  CloseHandle(taken);
  CloseHandle(release);
}

// A fault while the line is written must not leave the shared mutex held by
// this thread: the others would wait on it until this process ends.
TEST_F(FileWriter, FaultWhileWritingReleasesTheMutex) {
  Write(L"", L"one");
  const LogRecord* unreadable = reinterpret_cast<const LogRecord*>(16);
  const bool completed = Guarded([&] { writer().Write(*unreadable); },
                                 [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
  EXPECT_FALSE(completed);
  DWORD result = WAIT_FAILED;
  std::thread([&] {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, LogMutexName(path_.c_str()).c_str());
    result = WaitForSingleObject(mutex, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
    CloseHandle(mutex);
  }).join();
  EXPECT_EQ(result, static_cast<DWORD>(WAIT_OBJECT_0));
  Write(L"", L"two");
  EXPECT_EQ(Bytes(), kBom + Utf16(L"one\r\ntwo\r\n"));
}

// Wine keeps no file DACLs (it shows one made from the unix permissions), so
// the DACL write is read where it is handed to the platform, with the
// identity of the file behind the handle it goes to.
struct SecurityWrites {
  static inline std::vector<FileIdentity> files;
  static inline std::vector<std::vector<uint8_t>> dacls;
  static inline DWORD result = ERROR_SUCCESS;
  static DWORD WINAPI Record(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                             PSID, PSID, PACL dacl, PACL) {
    EXPECT_EQ(type, SE_FILE_OBJECT);
    EXPECT_EQ(information, static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION));
    files.push_back(IdentityOf(handle));
    const auto* bytes = reinterpret_cast<const uint8_t*>(dacl);
    dacls.emplace_back(bytes, bytes + dacl->AclSize);
    return result;
  }
  SecurityWrites(DWORD answer) {
    files.clear();
    dacls.clear();
    result = answer;
    SetSecurityInfoForTesting(&Record);
  }
  ~SecurityWrites() { SetSecurityInfoForTesting(nullptr); }
};

TEST_F(FileWriter, EveryOpeningGrantsUsersReadWriteAndDeleteThroughAHandleOnTheLog) {
  SecurityWrites writes(ERROR_SUCCESS);
  test::WriteText(path_, "");  // an existing file gets it again
  Write(L"", L"one");
  writer_.reset();
  Write(L"", L"two");
  ASSERT_EQ(SecurityWrites::files.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(SecurityWrites::files[i].valid);
    EXPECT_EQ(SecurityWrites::files[i], IdentityOf(path_));
    auto* acl = reinterpret_cast<ACL*>(SecurityWrites::dacls[i].data());
    EXPECT_EQ(acl->AceCount, 1u);
    ACCESS_MASK mask = 0;
    BYTE flags = 0xFF;
    BYTE type = 0xFF;
    EXPECT_TRUE(FindAce(acl, "S-1-5-32-545", &mask, &flags, &type));
    EXPECT_EQ(mask, 0xC0010000u);
    EXPECT_EQ(flags, 0u);
  }
}

TEST_F(FileWriter, RefusedDaclLeavesTheFileInUse) {
  SecurityWrites writes(ERROR_ACCESS_DENIED);
  Write(L"", L"one");
  EXPECT_TRUE(writer().ready());
  EXPECT_EQ(Bytes(), kBom + Utf16(L"one\r\n"));
}

// A hard link in the log's place: the same bytes are another file as well (the
// Windows folder's win.ini, say), which no line, emptying, backup move or DACL
// may reach. The writer reports the link and stays silent.
TEST_F(FileWriter, LogFileWithASecondNameIsLeftAlone) {
  const struct {
    const char* name;
    bool append;
    const char* settings;
  } cases[] = {
      {"appending", true, ""},
      {"emptying at open", false, ""},
      {"above the cap, where it would be moved to the backup", true, "MaxLogFileSize=10\r\n"},
  };
  ScratchFolder elsewhere;
  const std::wstring other = elsewhere.Child(L"win.ini");
  const std::string precious = "[fonts]\r\n[extensions]\r\n[mci extensions]\r\n";
  for (const auto& one : cases) {
    SCOPED_TRACE(one.name);
    test::WriteText(other, precious);
    ASSERT_TRUE(CreateHardLinkW(path_.c_str(), other.c_str(), nullptr)) << GetLastError();
    // Wine makes a real second name for the file, as Windows does.
    ASSERT_EQ(IdentityOf(path_).links, 2u);
    WriteIni(one.settings);
    test::PendingRenames pending;
    SecurityWrites writes(ERROR_SUCCESS);
    DebugOutputExceptions output;
    writer_.reset();
    writer(one.append);
    Write(L"", L"line");
    Write(L"", L"another");

    EXPECT_FALSE(writer().ready());
    EXPECT_EQ(test::ReadBytes(other), std::vector<uint8_t>(precious.begin(), precious.end()));
    EXPECT_EQ(IdentityOf(path_), IdentityOf(other));
    EXPECT_FALSE(test::PathExists(path_ + L".bak"));
    EXPECT_TRUE(pending.Added().empty());
    EXPECT_TRUE(SecurityWrites::files.empty());
    EXPECT_EQ(output.Count("]: ERROR - Log file " + test::Narrow(path_) + " has more than one link"),
              1);
    EXPECT_TRUE(output.Contains("]: Could not create logging file " + test::Narrow(path_) + "\n"));
    EXPECT_FALSE(output.Contains("trying to move log file to backup"));
    writer_.reset();
    DeleteFileW(path_.c_str());
  }
}

// Owners that GetSecurityInfo reports: `owner` for the log folder, the real
// one for everything else (Wine shows the same owner for every file and keeps
// none that is set).
struct ReportedFolderOwner {
  static inline FileIdentity folder;
  static inline std::wstring owner;
  static DWORD WINAPI Report(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                             PSID* owner_sid, PSID* group, PACL* dacl, PACL* sacl,
                             PSECURITY_DESCRIPTOR* descriptor) {
    if (!(IdentityOf(handle) == folder)) {
      return GetSecurityInfo(handle, type, information, owner_sid, group, dacl, sacl, descriptor);
    }
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW((L"O:" + owner).c_str(),
                                                              SDDL_REVISION_1, descriptor, nullptr)) {
      return GetLastError();
    }
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(*descriptor, owner_sid, &defaulted);
    return ERROR_SUCCESS;
  }
  ReportedFolderOwner(const std::wstring& path, const std::wstring& sid) {
    folder = IdentityOf(path);
    owner = sid;
    SetGetSecurityInfoForTesting(&Report);
  }
  ~ReportedFolderOwner() { SetGetSecurityInfoForTesting(nullptr); }
};

// A log folder that a user made before any administrator did is that user's
// to change at any moment (a file swapped for a link, the folder for a
// junction): the writer neither writes nor creates anything in it.
TEST_F(FileWriter, LogFolderOwnedByAnyoneButAdministratorsIsNotUsed) {
  const struct {
    const wchar_t* owner;
    bool used;
  } cases[] = {
      {L"S-1-5-21-1-2-3-1001", false},  // a user
      {L"S-1-5-32-545", false},         // Users
      {L"S-1-5-32-544", true},          // Administrators
      {L"S-1-5-18", true},              // LocalSystem
  };
  const std::vector<uint8_t> theirs = kBom + Utf16(L"their lines\r\n");
  for (const auto& one : cases) {
    SCOPED_TRACE(test::Narrow(one.owner));
    test::WriteBytes(path_, theirs);
    ReportedFolderOwner reported(folder_, one.owner);
    DebugOutputExceptions output;
    writer_.reset();
    Write(L"", L"line");
    EXPECT_EQ(writer().ready(), one.used);
    EXPECT_EQ(Bytes(), one.used ? theirs + Utf16(L"line\r\n") : theirs);
    EXPECT_EQ(output.Contains("]: ERROR - Log folder " + test::Narrow(folder_) +
                              " is not owned by Administrators or SYSTEM"),
              !one.used);
    writer_.reset();
  }
  // Nor is a file created in such a folder.
  DeleteFileW(path_.c_str());
  ReportedFolderOwner reported(folder_, L"S-1-5-21-1-2-3-1001");
  Write(L"", L"line");
  EXPECT_FALSE(test::PathExists(path_));
}

// The writer makes a missing log folder, and the missing folders above it,
// itself: for Administrators, with a DACL of its own that inherits nothing.
TEST_F(FileWriter, MissingLogFolderIsCreatedForAdministrators) {
  RemoveDirectoryW(folder_.c_str());
  const std::wstring parent = logs_.Child(L"Update");
  folder_ = parent + L"\\Log";
  path_ = folder_ + L"\\CorvaneUpdate.log";
  Write(L"", L"first");
  EXPECT_TRUE(writer().ready());
  EXPECT_EQ(Bytes(), kBom + Utf16(L"first\r\n"));
  // Wine keeps of a DACL what the unix permissions can say, and shows a
  // folder made with the default DACL as readable by Everyone; the folder
  // DACL grants Everyone nothing.
  EXPECT_FALSE(GrantsEveryone(parent));
  EXPECT_FALSE(GrantsEveryone(folder_));
}

TEST_F(FileWriter, MutexGrantsSystemAdministratorsAndInteractiveUsers) {
  Write(L"", L"line");
  HANDLE mutex = OpenMutexW(READ_CONTROL, FALSE, LogMutexName(path_.c_str()).c_str());
  ASSERT_NE(mutex, nullptr);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  EXPECT_EQ(dacl->AceCount, 3u);
  for (const char* sid : {"S-1-5-18", "S-1-5-32-544", "S-1-5-4"}) {
    ACCESS_MASK mask = 0;
    BYTE flags = 0xFF;
    BYTE type = 0xFF;
    EXPECT_TRUE(FindAce(dacl, sid, &mask, &flags, &type)) << sid;
    EXPECT_EQ(flags, 0u) << sid;
    // The system maps GENERIC_ALL to the mutex's full rights when it stores it.
    EXPECT_TRUE(mask == GENERIC_ALL || mask == MUTANT_ALL_ACCESS) << sid << " " << mask;
  }
  LocalFree(descriptor);
  CloseHandle(mutex);
}

// Helper processes: this program again, running one of the disabled tests
// below with its orders in environment variables.
constexpr const wchar_t* kPathVariable = L"VIREO_TEST_LOG_PATH";
constexpr const wchar_t* kNameVariable = L"VIREO_TEST_HELPER_NAME";
constexpr const wchar_t* kLinesVariable = L"VIREO_TEST_LINES";
constexpr const wchar_t* kGoVariable = L"VIREO_TEST_GO_EVENT";
constexpr const wchar_t* kReadyVariable = L"VIREO_TEST_READY_SEMAPHORE";

TEST(FileLogWriterHelper, DISABLED_WriteLines) {
  const std::wstring path = EnvironmentValue(kPathVariable);
  const std::wstring name = EnvironmentValue(kNameVariable);
  const int lines = _wtoi(EnvironmentValue(kLinesVariable).c_str());
  ASSERT_FALSE(path.empty());
  ScratchFolder drive;
  LocalLogging logging(drive.path());
  FileLogWriter writer(path.c_str(), false, *logging);
  const std::wstring ready = EnvironmentValue(kReadyVariable);
  if (!ready.empty()) {
    HANDLE semaphore = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, ready.c_str());
    ASSERT_NE(semaphore, nullptr);
    ReleaseSemaphore(semaphore, 1, nullptr);
    CloseHandle(semaphore);
  }
  const std::wstring go = EnvironmentValue(kGoVariable);
  if (!go.empty()) {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, go.c_str());
    ASSERT_NE(event, nullptr);
    WaitForSingleObject(event, 60000);
    CloseHandle(event);
  }
  for (int i = 0; i < lines; ++i) {
    const std::wstring message = name + L" line " + std::to_wstring(i) + L" " +
                                 std::wstring(40 + i % 50, L'.');
    writer.Write(LogRecord{LC_CORE, LL_ERROR, L"[helper]", message.c_str()});
  }
  EXPECT_TRUE(writer.ready());
}

TEST(FileLogWriterHelper, DISABLED_DieHoldingTheMutex) {
  const std::wstring path = EnvironmentValue(kPathVariable);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, LogMutexName(path.c_str()).c_str());
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);
  TerminateProcess(GetCurrentProcess(), 3);
}

TEST_F(FileWriter, SeveralProcessesWriteWholeLinesAndLoseNone) {
  constexpr int kHelpers = 4;
  constexpr int kLines = 250;
  const std::wstring go_name = L"vireo_logging_test_go_" + std::to_wstring(GetCurrentProcessId());
  const std::wstring ready_name =
      L"vireo_logging_test_ready_" + std::to_wstring(GetCurrentProcessId());
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, go_name.c_str());
  HANDLE ready = CreateSemaphoreW(nullptr, 0, kHelpers, ready_name.c_str());
  std::vector<HANDLE> helpers;
  for (int i = 0; i < kHelpers; ++i) {
    helpers.push_back(test::StartHelperProcess(
        "FileLogWriterHelper.DISABLED_WriteLines",
        {{kPathVariable, path_}, {kNameVariable, L"helper" + std::to_wstring(i)},
         {kLinesVariable, std::to_wstring(kLines)}, {kGoVariable, go_name},
         {kReadyVariable, ready_name}}));
  }
  // Every helper has its writer before any of them writes.
  for (int i = 0; i < kHelpers; ++i) ASSERT_EQ(WaitForSingleObject(ready, 60000), WAIT_OBJECT_0);
  SetEvent(go);
  for (HANDLE helper : helpers) EXPECT_EQ(test::FinishHelperProcess(helper), 0u);
  CloseHandle(go);
  CloseHandle(ready);

  std::map<std::wstring, int> seen;
  const std::vector<std::wstring> lines = test::ReadLogLines(path_);
  for (const auto& line : lines) ++seen[line];
  for (int i = 0; i < kHelpers; ++i) {
    for (int n = 0; n < kLines; ++n) {
      const std::wstring expected = L"[helper]helper" + std::to_wstring(i) + L" line " +
                                    std::to_wstring(n) + L" " + std::wstring(40 + n % 50, L'.');
      EXPECT_EQ(seen[expected], 1) << test::Narrow(expected);
    }
  }
  EXPECT_EQ(lines.size(), static_cast<size_t>(kHelpers * kLines));
}

TEST_F(FileWriter, MutexAbandonedByADeadProcessIsTakenOver) {
  // Made here first, so that it outlives the helper that dies holding it.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, LogMutexName(path_.c_str()).c_str());
  ASSERT_NE(mutex, nullptr);
  HANDLE helper = test::StartHelperProcess("FileLogWriterHelper.DISABLED_DieHoldingTheMutex",
                                           {{kPathVariable, path_}});
  EXPECT_EQ(test::FinishHelperProcess(helper), 3u);

  DebugOutputExceptions output;
  Write(L"", L"after the crash");
  EXPECT_TRUE(writer().ready());
  EXPECT_FALSE(output.Contains("Could not acquire logging mutex"));
  EXPECT_EQ(Bytes(), kBom + Utf16(L"after the crash\r\n"));
  CloseHandle(mutex);
}

// A process that finds the mutex already there appends, whatever it was told.
TEST_F(FileWriter, SecondProcessSwitchesToAppending) {
  writer(false);
  Write(L"", L"first process");
  HANDLE helper = test::StartHelperProcess(
      "FileLogWriterHelper.DISABLED_WriteLines",
      {{kPathVariable, path_}, {kNameVariable, L"second"}, {kLinesVariable, L"1"}});
  EXPECT_EQ(test::FinishHelperProcess(helper), 0u);
  Write(L"", L"first again");
  EXPECT_EQ(test::ReadLogLines(path_),
            (std::vector<std::wstring>{L"first process", L"[helper]second line 0 " + std::wstring(40, L'.'),
                                       L"first again"}));
}

}  // namespace
}  // namespace vireo
