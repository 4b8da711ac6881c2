#pragma once
// Access to the shared log objects: the named log mutex grants full access to
// LocalSystem, Administrators and interactive users; the log file grants read,
// write and delete to Users; the log folder is created for Administrators,
// and an existing one is used only when an administrator owns it. Plus the
// reparse-point test on an opened log file.

#include <windows.h>
#include <aclapi.h>

#include "logging/security/security_descriptor.h"

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

// The attributes for creating the log folder (`log_folder` true) and, when
// they are missing too, the folders above it: owner S-1-5-32-544 and a
// protected DACL (nothing inherited from above) of, in this order,
//   S-1-5-18      FILE_ALL_ACCESS                            inherited by all below
//   S-1-5-32-544  FILE_ALL_ACCESS                            inherited by all below
//   S-1-5-32-545  FILE_GENERIC_READ | FILE_GENERIC_EXECUTE   inherited by all below
// and on the log folder alone one more ACE, S-1-5-32-545 FILE_ADD_FILE for
// that folder only: any user's process may create the shared log and move it
// to its backup, and no one but an administrator may add a folder there or
// change the folder itself (a file that a user puts there is checked like any
// other before it is used). Only a process that may name Administrators as
// owner (an elevated administrator, LocalSystem) can create a folder with
// these attributes; elsewhere the creation fails and leaves no folder that a
// user owns. Raises (see base/fatal_error.h) when a step fails.
SecurityAttributes BuildLogFolderSecurity(bool log_folder);

// Writes a DACL of one ACE granting GENERIC_READ | GENERIC_WRITE | DELETE to
// S-1-5-32-545 onto the file behind `file` (a handle opened with WRITE_DAC),
// leaving its inherited ACEs and protection as they were. Through the handle,
// never a path, so it lands on the file that was checked. Returns true when
// written; the thread's last error is then ERROR_SUCCESS, else the code of the
// write. False at once for a null or invalid handle.
bool SetLogFileDacl(HANDLE file);

// Tests see the DACL that SetLogFileDacl writes, and the handle it goes to,
// and make the write fail, by replacing SetSecurityInfo here: Wine accepts a
// file DACL but keeps only what unix permissions can express. Pass null to
// restore it.
using SetSecurityInfoFunction = DWORD(WINAPI*)(HANDLE handle, SE_OBJECT_TYPE type,
                                               SECURITY_INFORMATION information, PSID owner,
                                               PSID group, PACL dacl, PACL sacl);
void SetSecurityInfoForTesting(SetSecurityInfoFunction set_security_info);

// Whether the folder behind `folder` (a handle opened with READ_CONTROL) may
// hold the log: its owner is S-1-5-32-544 or S-1-5-18, or the owner of the
// common application-data folder (whoever owns that can already replace
// anything below it, so this trusts no one new; where the platform keeps no
// owners, as under Wine, every file shows the same one). A folder that a
// user made, before any administrator did, has that user as its owner, who
// may change it at will. False too when an owner cannot be read.
bool IsLogFolderOwnerTrusted(HANDLE folder);

// Wine reports one owner for every file and keeps none that is set, so tests
// make a folder that another user planted by replacing GetSecurityInfo here.
// Pass null to restore it.
using GetSecurityInfoFunction = DWORD(WINAPI*)(HANDLE handle, SE_OBJECT_TYPE type,
                                               SECURITY_INFORMATION information, PSID* owner,
                                               PSID* group, PACL* dacl, PACL* sacl,
                                               PSECURITY_DESCRIPTOR* descriptor);
void SetGetSecurityInfoForTesting(GetSecurityInfoFunction get_security_info);

// True when the file behind `file` is a reparse point, when `file` is null and
// when the test fails (after a "LOG_SYSTEM:" line on the debugger output).
bool IsHandleReparsePoint(HANDLE file);

// Wine 8 makes no junction and shows no handle as a reparse point (it opens
// the target of a Unix symbolic link), so tests that need a folder or file
// swapped for a link after its path was checked replace
// GetFileInformationByHandle here, for IsHandleReparsePoint alone. Pass null
// to restore it.
using GetFileInformationByHandleFunction = BOOL(WINAPI*)(HANDLE file,
                                                         BY_HANDLE_FILE_INFORMATION* info);
void SetGetFileInformationByHandleForTesting(
    GetFileInformationByHandleFunction get_file_information);

}  // namespace vireo
