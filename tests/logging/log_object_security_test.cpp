#include "logging/security/log_object_security.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "logging/sync_mutex.h"
#include "tests/logging/debug_output_recorder.h"
#include "tests/support/scratch_folder.h"

namespace vireo {
namespace {

// SECURITY_ATTRIBUTES as the platform lays it out: a length, a pointer and a
// BOOL, padded to the pointer's alignment.
#if defined(__x86_64__)
constexpr DWORD kSecurityAttributesSize = 24;
#else
constexpr DWORD kSecurityAttributesSize = 12;
#endif

struct ExpectedAce {
  WELL_KNOWN_SID_TYPE sid;
  ACCESS_MASK mask;
};

// Checks that `acl` starts with exactly `expected` as explicit allow ACEs
// (flags 0), and that anything after them was inherited.
void ExpectExplicitAces(const ACL* acl, const std::vector<ExpectedAce>& expected,
                        const std::vector<ACCESS_MASK>& also_accepted = {}) {
  ASSERT_NE(acl, nullptr);
  ASSERT_GE(acl->AceCount, expected.size());
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    SCOPED_TRACE(i);
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(const_cast<ACL*>(acl), i, reinterpret_cast<void**>(&ace)));
    if (i >= expected.size()) {
      EXPECT_TRUE(ace->Header.AceFlags & INHERITED_ACE);
      continue;
    }
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, 0);
    bool mask_ok = ace->Mask == expected[i].mask;
    for (const ACCESS_MASK mask : also_accepted) mask_ok = mask_ok || ace->Mask == mask;
    EXPECT_TRUE(mask_ok) << std::hex << ace->Mask;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid);
    ASSERT_TRUE(CreateWellKnownSid(expected[i].sid, nullptr, sid, &size));
    EXPECT_TRUE(EqualSid(&ace->SidStart, sid));
  }
}

const std::vector<ExpectedAce> kMutexAces = {
    {WinLocalSystemSid, GENERIC_ALL},
    {WinBuiltinAdministratorsSid, GENERIC_ALL},
    {WinInteractiveSid, GENERIC_ALL},
};

void ExpectLogMutexDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_EQ(revision, 1u);
  EXPECT_TRUE(control & SE_DACL_PRESENT);
  EXPECT_FALSE(control & SE_DACL_DEFAULTED);
  EXPECT_FALSE(control & SE_SACL_PRESENT);

  PSID owner = reinterpret_cast<PSID>(1);
  PSID group = reinterpret_cast<PSID>(1);
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
  ASSERT_TRUE(GetSecurityDescriptorGroup(descriptor, &group, &defaulted));
  EXPECT_EQ(owner, nullptr);
  EXPECT_EQ(group, nullptr);

  BOOL present = FALSE;
  ACL* dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ACL_SIZE_INFORMATION size = {};
  ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation));
  EXPECT_EQ(dacl->AclRevision, ACL_REVISION);
  EXPECT_EQ(dacl->AclSize, 72u);
  EXPECT_EQ(size.AclBytesInUse, 72u);
  EXPECT_EQ(size.AceCount, 3u);
  ExpectExplicitAces(dacl, kMutexAces);
}

TEST(BuildLogMutexSecurity, GivesTheRecordAndBothDescriptorForms) {
  SecurityAttributes security = BuildLogMutexSecurity();
  SECURITY_ATTRIBUTES* record = security.get();
  EXPECT_EQ(record->nLength, kSecurityAttributesSize);
  EXPECT_FALSE(record->bInheritHandle);
  EXPECT_EQ(record->lpSecurityDescriptor, security.self_relative().get());
  EXPECT_TRUE(security.self_relative().is_self_relative());
  EXPECT_FALSE(security.absolute().is_self_relative());
  {
    SCOPED_TRACE("self-relative");
    ExpectLogMutexDescriptor(security.self_relative().get());
  }
  {
    SCOPED_TRACE("absolute");
    ExpectLogMutexDescriptor(security.absolute().get());
  }
}

TEST(BuildLogMutexSecurity, AFreshMutexCarriesTheDaclAndAnExistingOneKeepsItsOwn) {
  const std::wstring name = L"vireo_log_mutex_test_" + std::to_wstring(GetCurrentProcessId());
  SecurityAttributes security = BuildLogMutexSecurity();
  const UniqueKernelHandle mutex = CreateSyncMutex(name.c_str(), security.get());
  ASSERT_TRUE(mutex) << GetLastError();
  EXPECT_EQ(GetLastError(), 0u);

  // The creating handle has only the access to wait and release; read the
  // security through a second one.
  const UniqueKernelHandle reader(OpenMutexW(READ_CONTROL, FALSE, name.c_str()));
  ASSERT_TRUE(reader) << GetLastError();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ACL* dacl = nullptr;
  PSID owner = nullptr;
  ASSERT_EQ(GetSecurityInfo(reader.get(), SE_KERNEL_OBJECT,
                            DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  // A kernel may store GENERIC_ALL mapped to the mutex's specific rights.
  ExpectExplicitAces(dacl, kMutexAces, {MUTEX_ALL_ACCESS});
  EXPECT_EQ(dacl->AceCount, 3u);
  LocalFree(descriptor);

  // A second creation opens the same mutex; its descriptor is not applied.
  const UniqueKernelHandle again = CreateSyncMutex(name.c_str(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_TRUE(again);
  descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(reader.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(dacl->AceCount, 3u);
  LocalFree(descriptor);
}

// What the replaced SetSecurityInfo was asked to write.
struct SecurityWrite {
  int calls = 0;
  HANDLE handle = nullptr;
  SE_OBJECT_TYPE type = SE_UNKNOWN_OBJECT_TYPE;
  SECURITY_INFORMATION information = 0;
  bool owner_group_sacl_null = false;
  std::vector<BYTE> dacl;
  DWORD result = ERROR_SUCCESS;
} security_write;

DWORD WINAPI RecordSecurityWrite(HANDLE handle, SE_OBJECT_TYPE type,
                                 SECURITY_INFORMATION information, PSID owner, PSID group,
                                 PACL dacl, PACL sacl) {
  ++security_write.calls;
  security_write.handle = handle;
  security_write.type = type;
  security_write.information = information;
  security_write.owner_group_sacl_null = !owner && !group && !sacl;
  const auto* bytes = reinterpret_cast<const BYTE*>(dacl);
  security_write.dacl.assign(bytes, bytes + dacl->AclSize);
  return security_write.result;
}

class LogFileDaclTest : public ::testing::Test {
 protected:
  void SetUp() override { security_write = SecurityWrite(); }
  void TearDown() override {
    SetSecurityInfoForTesting(nullptr);
    LocalFree(descriptor_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  // A log file of the test's own, open with `access`.
  HANDLE OpenFile(DWORD access) {
    file_ = CreateFileW(scratch_.Child(L"CorvaneUpdate.log").c_str(), access,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file_, INVALID_HANDLE_VALUE);
    return file_;
  }

  // The file's DACL as the platform reports it; the descriptor is freed with the test.
  ACL* ReadDacl(HANDLE file) {
    ACL* dacl = nullptr;
    LocalFree(descriptor_);
    descriptor_ = nullptr;
    const DWORD result = GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, &dacl, nullptr, &descriptor_);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_SUCCESS));
    return dacl;
  }

  test::ScratchFolder scratch_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

TEST_F(LogFileDaclTest, WritesOneUsersAceThroughTheHandleAndNothingElse) {
  SetSecurityInfoForTesting(&RecordSecurityWrite);
  const HANDLE file = OpenFile(GENERIC_WRITE | WRITE_DAC);
  SetLastError(ERROR_INVALID_FUNCTION);
  EXPECT_TRUE(SetLogFileDacl(file));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(security_write.calls, 1);
  EXPECT_EQ(security_write.handle, file);
  EXPECT_EQ(security_write.type, SE_FILE_OBJECT);
  // Neither protected nor unprotected: the inherited ACEs stay as they are.
  EXPECT_EQ(security_write.information,
            static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION));
  EXPECT_TRUE(security_write.owner_group_sacl_null);
  const auto* acl = reinterpret_cast<const ACL*>(security_write.dacl.data());
  EXPECT_EQ(acl->AclRevision, ACL_REVISION);
  EXPECT_EQ(acl->AclSize, 32u);
  EXPECT_EQ(acl->AceCount, 1u);
  ExpectExplicitAces(acl, {{WinBuiltinUsersSid, 0xC0010000}});
}

TEST_F(LogFileDaclTest, AFailedWriteLeavesItsCodeAsTheLastError) {
  SetSecurityInfoForTesting(&RecordSecurityWrite);
  security_write.result = ERROR_ACCESS_DENIED;
  SetLastError(0);
  EXPECT_FALSE(SetLogFileDacl(OpenFile(GENERIC_WRITE | WRITE_DAC)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // No handle is refused before anything is written.
  for (const HANDLE none : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
    SetLastError(ERROR_INVALID_FUNCTION);
    EXPECT_FALSE(SetLogFileDacl(none));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  }
  EXPECT_EQ(security_write.calls, 1);
}

// The platform takes the DACL through a real handle each time the file is
// opened. Which DACL is written is checked above through SetSecurityInfo's
// stand-in; what the file then holds cannot be read back here: Wine 8 keeps
// no file DACL and reports one made from the file's unix permissions.
TEST_F(LogFileDaclTest, OnARealFileEveryTimeItIsOpened) {
  const HANDLE file = OpenFile(GENERIC_WRITE | WRITE_DAC | READ_CONTROL);
  for (int time = 0; time < 2; ++time) {
    SCOPED_TRACE(time);
    SetLastError(ERROR_INVALID_FUNCTION);
    EXPECT_TRUE(SetLogFileDacl(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  }
  EXPECT_NE(ReadDacl(file), nullptr);
}

// The write needs WRITE_DAC on the handle; without it the platform's refusal
// is the answer, and the file stays as it was.
TEST_F(LogFileDaclTest, AHandleWithoutWriteDacGivesTheWritesError) {
  SetLastError(0);
  EXPECT_FALSE(SetLogFileDacl(OpenFile(GENERIC_WRITE)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

struct ExpectedFolderAce {
  WELL_KNOWN_SID_TYPE sid;
  ACCESS_MASK mask;
  BYTE flags;
};

TEST(BuildLogFolderSecurity, AdministratorsOwnAProtectedDaclThatUsersMayOnlyReadBelow) {
  constexpr BYTE kBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const std::vector<ExpectedFolderAce> parent = {
      {WinLocalSystemSid, FILE_ALL_ACCESS, kBelow},
      {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, kBelow},
      {WinBuiltinUsersSid, 0x1200A9, kBelow},
  };
  std::vector<ExpectedFolderAce> log_folder = parent;
  // Users add the log file and its backup to the log folder itself, nothing more.
  log_folder.push_back({WinBuiltinUsersSid, FILE_ADD_FILE, 0});

  for (const bool is_log_folder : {false, true}) {
    SCOPED_TRACE(is_log_folder ? "log folder" : "folder above it");
    SecurityAttributes security = BuildLogFolderSecurity(is_log_folder);
    EXPECT_EQ(security.get()->nLength, kSecurityAttributesSize);
    EXPECT_FALSE(security.get()->bInheritHandle);
    EXPECT_EQ(security.get()->lpSecurityDescriptor, security.self_relative().get());
    for (const SecurityDescriptor* form : {&security.self_relative(), &security.absolute()}) {
      const PSECURITY_DESCRIPTOR descriptor = form->get();
      ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
      SECURITY_DESCRIPTOR_CONTROL control = 0;
      DWORD revision = 0;
      ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
      // Protected: nothing that the folder above grants reaches it.
      EXPECT_TRUE(control & SE_DACL_PROTECTED);
      EXPECT_TRUE(control & SE_DACL_PRESENT);
      EXPECT_FALSE(control & SE_OWNER_DEFAULTED);

      PSID owner = nullptr;
      BOOL defaulted = TRUE;
      ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
      BYTE administrators[SECURITY_MAX_SID_SIZE];
      DWORD size = sizeof(administrators);
      ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
      ASSERT_NE(owner, nullptr);
      EXPECT_TRUE(EqualSid(owner, administrators));

      BOOL present = FALSE;
      ACL* dacl = nullptr;
      ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
      const std::vector<ExpectedFolderAce>& expected = is_log_folder ? log_folder : parent;
      ASSERT_EQ(dacl->AceCount, expected.size());
      for (DWORD i = 0; i < dacl->AceCount; ++i) {
        SCOPED_TRACE(i);
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, expected[i].flags);
        EXPECT_EQ(ace->Mask, expected[i].mask);
        BYTE sid[SECURITY_MAX_SID_SIZE];
        size = sizeof(sid);
        ASSERT_TRUE(CreateWellKnownSid(expected[i].sid, nullptr, sid, &size));
        EXPECT_TRUE(EqualSid(&ace->SidStart, sid));
      }
    }
  }
}

// An administrator's process (as every Wine process is) may name
// Administrators as the owner of what it creates.
TEST(BuildLogFolderSecurity, AnAdministratorCreatesFoldersWithIt) {
  test::ScratchFolder scratch;
  for (const bool is_log_folder : {false, true}) {
    const std::wstring folder = scratch.Child(is_log_folder ? L"Log" : L"Update");
    SecurityAttributes security = BuildLogFolderSecurity(is_log_folder);
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), security.get())) << GetLastError();
  }
}

// Owners that GetSecurityInfo reports, by handle: Wine shows the same owner
// for every file and keeps none that is set.
struct ReportedOwners {
  HANDLE folder = nullptr;
  std::wstring folder_owner;  // empty: the read fails
  std::wstring other_owner;   // of every other handle: the common application data
  int reads = 0;
} reported_owners;

DWORD WINAPI ReportOwner(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                         PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                         PSECURITY_DESCRIPTOR* descriptor) {
  ++reported_owners.reads;
  EXPECT_EQ(type, SE_FILE_OBJECT);
  EXPECT_EQ(information, static_cast<SECURITY_INFORMATION>(OWNER_SECURITY_INFORMATION));
  EXPECT_EQ(group, nullptr);
  EXPECT_EQ(dacl, nullptr);
  EXPECT_EQ(sacl, nullptr);
  const std::wstring& sid =
      handle == reported_owners.folder ? reported_owners.folder_owner : reported_owners.other_owner;
  if (sid.empty()) return ERROR_ACCESS_DENIED;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW((L"O:" + sid).c_str(), SDDL_REVISION_1,
                                                            descriptor, nullptr)) {
    return GetLastError();
  }
  BOOL defaulted = FALSE;
  GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
  return ERROR_SUCCESS;
}

TEST(IsLogFolderOwnerTrusted, AdministratorsSystemOrTheOwnerOfTheCommonApplicationData) {
  test::ScratchFolder scratch;
  HANDLE folder = CreateFileW(scratch.path().c_str(), READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  SetGetSecurityInfoForTesting(&ReportOwner);
  const struct {
    const wchar_t* folder_owner;
    const wchar_t* common_owner;
    bool trusted;
  } cases[] = {
      {L"S-1-5-32-544", L"S-1-5-18", true},                       // Administrators
      {L"S-1-5-18", L"S-1-5-18", true},                           // LocalSystem
      {L"S-1-5-21-1-2-3-1001", L"S-1-5-18", false},               // a user who got there first
      {L"S-1-5-32-545", L"S-1-5-18", false},                      // Users
      {L"S-1-5-4", L"S-1-5-32-544", false},                       // Interactive
      {L"S-1-5-21-1-2-3-1001", L"S-1-5-21-1-2-3-1001", true},     // who owns all of it anyway
      {L"", L"S-1-5-18", false},                                  // an owner that cannot be read
      {L"S-1-5-21-1-2-3-1001", L"", false},
  };
  for (const auto& one : cases) {
    const std::wstring trace = std::wstring(one.folder_owner) + L" / " + one.common_owner;
    SCOPED_TRACE(std::string(trace.begin(), trace.end()));  // SIDs are ASCII
    reported_owners = ReportedOwners{folder, one.folder_owner, one.common_owner, 0};
    EXPECT_EQ(IsLogFolderOwnerTrusted(folder), one.trusted);
    EXPECT_GE(reported_owners.reads, 1);
  }
  SetGetSecurityInfoForTesting(nullptr);
  CloseHandle(folder);
}

TEST(IsHandleReparsePoint, PlainFileNullHandleAndAFailingTest) {
  test::ScratchFolder scratch;
  const std::wstring path = scratch.Child(L"plain.log");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(IsHandleReparsePoint(file));
  CloseHandle(file);

  test::DebugOutputRecorder recorder;
  EXPECT_TRUE(IsHandleReparsePoint(nullptr));
  EXPECT_TRUE(recorder.lines().empty());  // no platform call, no line

  // An event is no file: the test fails and counts as a reparse point.
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  ASSERT_FALSE(GetFileInformationByHandle(event, &info));
  const DWORD error = GetLastError();
  recorder.Clear();
  EXPECT_TRUE(IsHandleReparsePoint(event));
  CloseHandle(event);
  ASSERT_EQ(recorder.lines().size(), 1u);
  EXPECT_EQ(recorder.lines()[0], "LOG_SYSTEM: ERROR - [::GetFileInformationByHandle failed][" +
                                     std::to_string(error) + "]");
}

// What GetFileInformationByHandle says of a handle on a real folder, with the
// reparse-point attribute added: the handle of a junction swapped in for it.
BOOL WINAPI ReportedAsReparsePoint(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  if (!GetFileInformationByHandle(file, info)) return FALSE;
  info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return TRUE;
}

TEST(IsHandleReparsePoint, ReadsTheReparseAttributeThroughTheHandle) {
  test::ScratchFolder scratch;
  HANDLE folder = CreateFileW(scratch.path().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(IsHandleReparsePoint(folder));
  SetGetFileInformationByHandleForTesting(&ReportedAsReparsePoint);
  EXPECT_TRUE(IsHandleReparsePoint(folder));
  SetGetFileInformationByHandleForTesting(nullptr);
  EXPECT_FALSE(IsHandleReparsePoint(folder));
  CloseHandle(folder);
}

}  // namespace
}  // namespace vireo
