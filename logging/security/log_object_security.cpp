#include "logging/security/log_object_security.h"

#include <shlobj.h>

#include <utility>

#include "base/fatal_error.h"
#include "base/unique_handle.h"
#include "logging/scratch_format.h"
#include "logging/security/dacl.h"
#include "logging/security/sid.h"

namespace vireo {

namespace {

constexpr DWORD kLocalSystem[] = {SECURITY_LOCAL_SYSTEM_RID};  // S-1-5-18
constexpr DWORD kAdministrators[] = {SECURITY_BUILTIN_DOMAIN_RID,
                                     DOMAIN_ALIAS_RID_ADMINS};                     // S-1-5-32-544
constexpr DWORD kInteractive[] = {SECURITY_INTERACTIVE_RID};                       // S-1-5-4
constexpr DWORD kUsers[] = {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS};  // S-1-5-32-545

SetSecurityInfoFunction set_security_info_for_testing = nullptr;
GetSecurityInfoFunction get_security_info_for_testing = nullptr;
GetFileInformationByHandleFunction get_file_information_for_testing = nullptr;

constexpr ACCESS_MASK kLogFileAccess = GENERIC_READ | GENERIC_WRITE | DELETE;
static_assert(kLogFileAccess == 0xC0010000, "read, write and delete");

constexpr BYTE kInheritedBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr ACCESS_MASK kFolderReadAccess = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
static_assert(kFolderReadAccess == 0x1200A9, "list, traverse and read");

template <size_t N>
void AddNtAuthorityAce(Dacl* dacl, const DWORD (&sub_authorities)[N], ACCESS_MASK mask,
                       BYTE flags = 0) {
  if (!dacl->AddAllowedAce(Sid::NtAuthority(sub_authorities, N), mask, flags)) {
    RaiseFatalError(kFatalInvalidOperation);
  }
}

// False when the ACE could not be added (nothing written); else *result is the
// write's result code. The DACL is freed before the caller sets the last error.
bool WriteLogFileDacl(HANDLE file, DWORD* result) {
  Dacl dacl;
  if (!dacl.AddAllowedAce(Sid::NtAuthority(kUsers, 2), kLogFileAccess)) return false;
  // Without PROTECTED_ or UNPROTECTED_DACL_SECURITY_INFORMATION the file keeps
  // its protection state, and what it inherits from its directory stays.
  const SetSecurityInfoFunction set_security_info =
      set_security_info_for_testing ? set_security_info_for_testing : &::SetSecurityInfo;
  *result = set_security_info(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              const_cast<ACL*>(dacl.GetAcl()), nullptr);
  return true;
}

// The owner of the file or folder behind `handle` (opened with READ_CONTROL),
// in `*descriptor`; null when it cannot be read.
PSID ReadOwner(HANDLE handle, UniqueLocalMemory* descriptor) {
  const GetSecurityInfoFunction get_security_info =
      get_security_info_for_testing ? get_security_info_for_testing : &::GetSecurityInfo;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR block = nullptr;
  if (get_security_info(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &block) != ERROR_SUCCESS) {
    return nullptr;
  }
  descriptor->reset(block);
  return owner && ::IsValidSid(owner) ? owner : nullptr;
}

template <size_t N>
bool IsNtAuthoritySid(PSID sid, const DWORD (&sub_authorities)[N]) {
  const Sid wanted = Sid::NtAuthority(sub_authorities, N);
  return ::EqualSid(sid, wanted.get()) != FALSE;
}

bool IsOwnerOfCommonAppData(PSID sid) {
  wchar_t path[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) {
    return false;
  }
  const UniqueFile folder(::CreateFileW(path, READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return false;
  UniqueLocalMemory descriptor;
  const PSID owner = ReadOwner(folder.get(), &descriptor);
  return owner && ::EqualSid(owner, sid);
}

}  // namespace

SecurityAttributes::SecurityAttributes(SecurityDescriptor absolute,
                                       SecurityDescriptor self_relative)
    : absolute_(std::move(absolute)), self_relative_(std::move(self_relative)) {
  record_.nLength = sizeof(record_);
  record_.lpSecurityDescriptor = self_relative_.get();
  record_.bInheritHandle = FALSE;
}

SecurityAttributes::SecurityAttributes(SecurityAttributes&& other) noexcept
    : absolute_(std::move(other.absolute_)),
      self_relative_(std::move(other.self_relative_)),
      record_(other.record_) {
  other.record_.lpSecurityDescriptor = nullptr;
}

SecurityAttributes BuildLogMutexSecurity() {
  Dacl dacl;
  AddNtAuthorityAce(&dacl, kLocalSystem, GENERIC_ALL);
  AddNtAuthorityAce(&dacl, kAdministrators, GENERIC_ALL);
  AddNtAuthorityAce(&dacl, kInteractive, GENERIC_ALL);

  SecurityDescriptor absolute;
  absolute.InitializeAbsolute();
  absolute.SetDacl(&dacl);
  SecurityDescriptor self_relative = absolute.MakeSelfRelative();
  return SecurityAttributes(std::move(absolute), std::move(self_relative));
}

SecurityAttributes BuildLogFolderSecurity(bool log_folder) {
  Dacl dacl;
  AddNtAuthorityAce(&dacl, kLocalSystem, FILE_ALL_ACCESS, kInheritedBelow);
  AddNtAuthorityAce(&dacl, kAdministrators, FILE_ALL_ACCESS, kInheritedBelow);
  AddNtAuthorityAce(&dacl, kUsers, kFolderReadAccess, kInheritedBelow);
  if (log_folder) AddNtAuthorityAce(&dacl, kUsers, FILE_ADD_FILE);

  SecurityDescriptor absolute;
  absolute.InitializeAbsolute();
  absolute.SetOwner(Sid::NtAuthority(kAdministrators, 2));
  absolute.SetDacl(&dacl);
  absolute.ProtectDacl();
  SecurityDescriptor self_relative = absolute.MakeSelfRelative();
  return SecurityAttributes(std::move(absolute), std::move(self_relative));
}

bool SetLogFileDacl(HANDLE file) {
  if (!file || file == INVALID_HANDLE_VALUE) return false;
  DWORD result = ERROR_SUCCESS;
  if (!WriteLogFileDacl(file, &result)) return false;
  ::SetLastError(result);
  return result == ERROR_SUCCESS;
}

void SetSecurityInfoForTesting(SetSecurityInfoFunction set_security_info) {
  set_security_info_for_testing = set_security_info;
}

bool IsLogFolderOwnerTrusted(HANDLE folder) {
  UniqueLocalMemory descriptor;
  const PSID owner = ReadOwner(folder, &descriptor);
  if (!owner) return false;
  return IsNtAuthoritySid(owner, kAdministrators) || IsNtAuthoritySid(owner, kLocalSystem) ||
         IsOwnerOfCommonAppData(owner);
}

void SetGetSecurityInfoForTesting(GetSecurityInfoFunction get_security_info) {
  get_security_info_for_testing = get_security_info;
}

bool IsHandleReparsePoint(HANDLE file) {
  if (!file) return true;
  const GetFileInformationByHandleFunction get_file_information =
      get_file_information_for_testing ? get_file_information_for_testing
                                       : &::GetFileInformationByHandle;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!get_file_information(file, &info)) {
    ::OutputDebugStringW(ScratchFormat(
        L"LOG_SYSTEM: ERROR - [::GetFileInformationByHandle failed][%d]", ::GetLastError()));
    return true;
  }
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void SetGetFileInformationByHandleForTesting(
    GetFileInformationByHandleFunction get_file_information) {
  get_file_information_for_testing = get_file_information;
}

}  // namespace vireo
