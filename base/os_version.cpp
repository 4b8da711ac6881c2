#include "base/os_version.h"

namespace vireo {

namespace {

bool (*os_version_check_for_testing)(WORD, WORD) = nullptr;

}  // namespace

bool IsOSVersionAtLeast(WORD major, WORD service_pack_major) {
  if (os_version_check_for_testing) return os_version_check_for_testing(major, service_pack_major);

  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = major;
  version.dwMinorVersion = 0;
  version.wServicePackMajor = service_pack_major;
  version.wServicePackMinor = 0;

  DWORDLONG condition = 0;
  condition = ::VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
  condition = ::VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return ::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                              condition) != FALSE;
}

void SetOSVersionCheckForTesting(bool (*is_os_version_at_least)(WORD, WORD)) {
  os_version_check_for_testing = is_os_version_at_least;
}

}  // namespace vireo
