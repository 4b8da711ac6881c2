#pragma once
// From the entry point to the exit code: hardening, COM, the system check, the
// promo record and referral code, and one MetaInstaller run.

#include <windows.h>

namespace vireo {

// The whole life of the stub process; returns its exit code.
DWORD RunStub(HINSTANCE instance, const char* cmdline_tail);

// True when the running system is at least `major`.0 with service pack
// `service_pack_major` (so (5, 4) admits Windows 2000 SP4, XP and later).
bool IsOSVersionAtLeast(WORD major, WORD service_pack_major);

// Tests replace CoInitializeEx here to see a failing COM start, which the
// platform cannot be made to produce. Pass null to restore it.
void SetCoInitializeExForTesting(HRESULT(WINAPI* co_initialize_ex)(LPVOID, DWORD));

}  // namespace vireo
