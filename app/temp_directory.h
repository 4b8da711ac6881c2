#pragma once
// Where a run works: a fresh, uniquely named directory under the user's temporary
// directory, or for an elevated administrator under the Windows folder's
// SystemTemp or "CorvaneSoftware\Temp" under Program Files. There is no fallback
// from one policy to the other.

#include <windows.h>

#include "base/owned_string.h"

namespace vireo {

// The directory of one run and the base it was made in.
struct WorkDirectory {
  WideString temp_dir;
  WideString temp_root;
};

// Makes the run's unique directory. On success fills both fields; on failure
// leaves `work` unchanged, having logged the call that failed.
bool CreateUniqueTempDirectory(WorkDirectory* work);

// The administrator policy's base directory: the first usable candidate, or empty
// when the caller is not an administrator or no candidate can be written.
WideString GetAdminTempRoot();

// Creates `base` if needed, then a unique "PKM....tmp" directory inside it. On
// success stores its path in `temp_dir`; otherwise leaves it unchanged.
bool CreateUniqueDirectoryIn(const wchar_t* base, WideString* temp_dir);

// `subdirectory` appended to a shell folder, created with its parents when
// `create` is set. Returns S_OK, the folder lookup's failure code, or
// 0x80040709 when the path does not fit.
HRESULT GetFolderSubdirectory(int folder_id, const wchar_t* subdirectory, bool create,
                              WideString* path);

// A shell folder's path: S_OK from the shell, S_FALSE when an environment
// variable stood in for it (Program Files, Local AppData), otherwise the shell's
// failure code and an empty path.
HRESULT GetFolderPath(int folder_id, WideString* path);

// Whether the stub runs as an elevated administrator (shell32 ordinal 680).
bool IsElevatedAdministrator();

// Wine reports every user as an administrator; tests replace the check here.
// Pass null to restore the platform's answer.
void SetIsUserAnAdminForTesting(BOOL(WINAPI* is_user_an_admin)());

// Tests replace the shell's folder lookup here to see the environment fallback.
void SetSHGetFolderPathForTesting(HRESULT(WINAPI* get_folder_path)(HWND, int, HANDLE, DWORD,
                                                                   LPWSTR));

}  // namespace vireo
