#pragma once
// Small system helpers shared by the logging and security code: module and path
// names, a formatter whose buffer grows until the text fits, last-error
// conversion, the system version test, and named-mutex creation through an entry
// point that older kernels lack.

#include <windows.h>

#include <cstdarg>

#include "base/owned_string.h"

namespace vireo {

// Full path of `module`'s file (null: the executable). The buffer starts at
// MAX_PATH and grows until the whole path fits. Empty when the platform rejects
// the module.
WideString GetModuleFilePath(HMODULE module);

// Last component of `module`'s path, e.g. "CorvaneUpdateSetup.exe"; empty on failure.
WideString GetModuleName(HMODULE module);

// GetModuleName without its last extension, e.g. "CorvaneUpdateSetup"; empty on failure.
WideString GetModuleNameWithoutExtension(HMODULE module);

// The last component of `path` (the path itself when it has no separator).
WideString GetFileNameFromPath(const wchar_t* path);

// `path` without its last component and the separator before it.
WideString GetDirectoryFromPath(const wchar_t* path);

// Formats into `output`, growing from 256 characters by doubling until the text
// fits. Returns S_OK, or the bounded formatter's failure (E_INVALIDARG when the
// text cannot fit any buffer); `output` then holds what was formatted so far.
HRESULT FormatString(WideString* output, const wchar_t* format, ...);
HRESULT FormatStringVA(WideString* output, const wchar_t* format, va_list args);

// Appends the formatted text to `output`, also when formatting failed (then
// with what was formatted so far).
void AppendFormatString(WideString* output, const wchar_t* format, ...);

// The thread's last error as an HRESULT: E_FAIL for 0, a Win32 HRESULT for a
// positive code, a negative code unchanged.
HRESULT HResultFromLastError();

// True when the running system is at least `major`.0 with service pack
// `service_pack_major` (so (5, 4) admits Windows 2000 SP4, XP and later).
bool IsOSVersionAtLeast(WORD major, WORD service_pack_major);

using CreateMutexExWFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);

// Looks up kernel32's CreateMutexExW on Windows Vista and later; the pointer
// stays null (and the lookup is tried again next time) when it cannot be found.
void ResolveKernel32Entries();

// The CreateMutexExW found by ResolveKernel32Entries, or null.
CreateMutexExWFunction ResolvedCreateMutexExW();

// Stores GetProcAddress(module, name) in *place and returns whether it was
// found (logged as a warning when not). False, with *place untouched, when any
// argument is null.
bool GetProcAddressLogged(HMODULE module, const char* name, FARPROC* place);

// Creates or opens the named mutex, not owned, with `attributes` (may be null).
// Returns the handle or null; the thread's last error is the creation call's
// (ERROR_ALREADY_EXISTS when an existing mutex was opened).
HANDLE CreateSyncMutex(const wchar_t* name, SECURITY_ATTRIBUTES* attributes);

// Tests replace the version test here to act as an older system, and clear
// the resolved entry points. Pass null to restore the real test.
void SetOSVersionCheckForTesting(bool (*is_os_version_at_least)(WORD, WORD));
void ResetKernel32EntriesForTesting();

}  // namespace vireo
