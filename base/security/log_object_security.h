#pragma once
// Access to the shared log objects: the named log mutex grants full access to
// LocalSystem, Administrators and interactive users; the log file grants read,
// write and delete to Users. Plus the reparse-point test on an opened log file.

#include <windows.h>
#include <aclapi.h>

#include "base/security/security_descriptor.h"

namespace vireo {

// A SECURITY_ATTRIBUTES record (nLength 12, not inheritable) with the
// descriptor it points to, in self-relative form, and the absolute form it was
// made from. Both are freed with the object: keep it alive across the creation
// call that uses get().
class SecurityAttributes {
 public:
  SecurityAttributes(SecurityDescriptor absolute, SecurityDescriptor self_relative);
  SecurityAttributes(SecurityAttributes&& other) noexcept;
  SecurityAttributes(const SecurityAttributes&) = delete;
  SecurityAttributes& operator=(const SecurityAttributes&) = delete;
  SecurityAttributes& operator=(SecurityAttributes&&) = delete;

  SECURITY_ATTRIBUTES* get() { return &record_; }
  const SecurityDescriptor& absolute() const { return absolute_; }
  const SecurityDescriptor& self_relative() const { return self_relative_; }

 private:
  SecurityDescriptor absolute_;
  SecurityDescriptor self_relative_;
  SECURITY_ATTRIBUTES record_;
};

// The attributes for creating the log mutex: a DACL of three GENERIC_ALL allow
// ACEs (S-1-5-18, S-1-5-32-544, S-1-5-4, in that order), no owner, group or
// SACL. Raises (see base/fatal_error.h) when a step fails.
SecurityAttributes BuildLogMutexSecurity();

// Writes a DACL of one ACE granting GENERIC_READ | GENERIC_WRITE | DELETE to
// S-1-5-32-545 onto the file at `path`, leaving its inherited ACEs and
// protection as they were. Returns true when written; the thread's last error
// is then ERROR_SUCCESS, else the code of the write. False at once for a null path.
bool SetLogFileDacl(const wchar_t* path);

// Tests see the DACL that SetLogFileDacl writes, and make the write fail, by
// replacing SetNamedSecurityInfoW here: Wine accepts a file DACL but keeps
// only what unix permissions can express. Pass null to restore it.
using SetNamedSecurityInfoFunction = DWORD(WINAPI*)(LPWSTR path, SE_OBJECT_TYPE type,
                                                    SECURITY_INFORMATION information, PSID owner,
                                                    PSID group, PACL dacl, PACL sacl);
void SetNamedSecurityInfoForTesting(SetNamedSecurityInfoFunction set_named_security_info);

// True when the file behind `file` is a reparse point, when `file` is null and
// when the test fails (after a "LOG_SYSTEM:" line on the debugger output).
bool IsHandleReparsePoint(HANDLE file);

}  // namespace vireo
