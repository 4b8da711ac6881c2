#pragma once
// The running system's version, compared with the one a feature needs.

#include <windows.h>

namespace vireo {

// True when the running system is at least `major`.0 with service pack
// `service_pack_major` (so (5, 4) admits Windows 2000 SP4, XP and later).
bool IsOSVersionAtLeast(WORD major, WORD service_pack_major);

// Tests replace the version test here to act as an older system. Pass null to
// restore the real test.
void SetOSVersionCheckForTesting(bool (*is_os_version_at_least)(WORD, WORD));

}  // namespace vireo
