#pragma once
// Named mutexes for synchronisation only, created through CreateMutexExW
// where the system has it (Windows Vista on), so that the handle carries no
// more access than waiting and releasing need.

#include <windows.h>

#include "base/unique_handle.h"

namespace vireo {

using CreateMutexExWFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);

// Looks up kernel32's CreateMutexExW on Windows Vista and later; the pointer
// stays null (and the lookup is tried again next time) when it cannot be found.
void ResolveKernel32Entries();

// The CreateMutexExW found by ResolveKernel32Entries, or null.
CreateMutexExWFunction ResolvedCreateMutexExW();

// Creates or opens the named mutex, not owned, with `attributes` (may be null).
// Returns the handle, empty on failure; the thread's last error is the
// creation call's (ERROR_ALREADY_EXISTS when an existing mutex was opened).
UniqueKernelHandle CreateSyncMutex(const wchar_t* name, SECURITY_ATTRIBUTES* attributes);

// Tests clear the resolved entry point here, to see the lookup again.
void ResetKernel32EntriesForTesting();

}  // namespace vireo
