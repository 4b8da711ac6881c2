#pragma once
// From the entry point to the exit code: hardening, COM, the system check, the
// promo record and referral code, and one MetaInstaller run.

#include <windows.h>

// The start-up check's IsOSVersionAtLeast.
#include "base/os_version.h"

namespace vireo {

// The whole life of the stub process; returns its exit code.
DWORD RunStub(HINSTANCE instance, const char* cmdline_tail);

// Tests replace CoInitializeEx here to see a failing COM start, which the
// platform cannot be made to produce. Pass null to restore it.
void SetCoInitializeExForTesting(HRESULT(WINAPI* co_initialize_ex)(LPVOID, DWORD));

}  // namespace vireo
