#include "base/security/log_object_security.h"

#include <utility>

#include "base/fatal_error.h"
#include "base/logging/fatal_report.h"
#include "base/security/dacl.h"
#include "base/security/sid.h"

namespace vireo {

namespace {

constexpr DWORD kLocalSystem[] = {SECURITY_LOCAL_SYSTEM_RID};  // S-1-5-18
constexpr DWORD kAdministrators[] = {SECURITY_BUILTIN_DOMAIN_RID,
                                     DOMAIN_ALIAS_RID_ADMINS};                     // S-1-5-32-544
constexpr DWORD kInteractive[] = {SECURITY_INTERACTIVE_RID};                       // S-1-5-4
constexpr DWORD kUsers[] = {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS};  // S-1-5-32-545

SetNamedSecurityInfoFunction set_named_security_info_for_testing = nullptr;

constexpr ACCESS_MASK kLogFileAccess = GENERIC_READ | GENERIC_WRITE | DELETE;
static_assert(kLogFileAccess == 0xC0010000, "read, write and delete");

template <size_t N>
void AddNtAuthorityAce(Dacl* dacl, const DWORD (&sub_authorities)[N], ACCESS_MASK mask) {
  if (!dacl->AddAllowedAce(Sid::NtAuthority(sub_authorities, N), mask)) {
    RaiseFatalError(kFatalInvalidOperation);
  }
}

// False when the ACE could not be added (nothing written); else *result is the
// write's result code. The DACL is freed before the caller sets the last error.
bool WriteLogFileDacl(const wchar_t* path, DWORD* result) {
  Dacl dacl;
  if (!dacl.AddAllowedAce(Sid::NtAuthority(kUsers, 2), kLogFileAccess)) return false;
  // Without PROTECTED_ or UNPROTECTED_DACL_SECURITY_INFORMATION the file keeps
  // its protection state, and what it inherits from its directory stays.
  const SetNamedSecurityInfoFunction set_named_security_info =
      set_named_security_info_for_testing ? set_named_security_info_for_testing
                                          : &::SetNamedSecurityInfoW;
  *result =
      set_named_security_info(const_cast<wchar_t*>(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, const_cast<ACL*>(dacl.GetAcl()), nullptr);
  return true;
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

bool SetLogFileDacl(const wchar_t* path) {
  if (!path) return false;
  DWORD result = ERROR_SUCCESS;
  if (!WriteLogFileDacl(path, &result)) return false;
  ::SetLastError(result);
  return result == ERROR_SUCCESS;
}

void SetNamedSecurityInfoForTesting(SetNamedSecurityInfoFunction set_named_security_info) {
  set_named_security_info_for_testing = set_named_security_info;
}

bool IsHandleReparsePoint(HANDLE file) {
  if (!file) return true;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(file, &info)) {
    ::OutputDebugStringW(ScratchFormat(
        L"LOG_SYSTEM: ERROR - [::GetFileInformationByHandle failed][%d]", ::GetLastError()));
    return true;
  }
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace vireo
