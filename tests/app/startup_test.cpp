#include "app/startup.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "base/os_version.h"

namespace vireo {
namespace {

TEST(IsOSVersionAtLeast, ComparesMajorThenServicePack) {
  OSVERSIONINFOW running = {};
  running.dwOSVersionInfoSize = sizeof(running);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExW(&running));
#pragma GCC diagnostic pop
  EXPECT_TRUE(IsOSVersionAtLeast(5, 4));
  EXPECT_TRUE(IsOSVersionAtLeast(static_cast<WORD>(running.dwMajorVersion), 0));
  EXPECT_FALSE(IsOSVersionAtLeast(static_cast<WORD>(running.dwMajorVersion + 1), 0));
  EXPECT_FALSE(IsOSVersionAtLeast(99, 0));
}

HRESULT WINAPI ComFailsToStart(LPVOID, DWORD) { return E_OUTOFMEMORY; }

// COM already initialised on the thread: the real call, reported as S_FALSE.
HRESULT WINAPI ComAlreadyStarted(LPVOID reserved, DWORD flags) {
  return SUCCEEDED(CoInitializeEx(reserved, flags)) ? S_FALSE : E_FAIL;
}

constexpr wchar_t kPromoKey[] = L"Software\\CorvaneSoftware\\Promo";

bool PromoPathRecorded() {
  DWORD size = 0;
  return RegGetValueW(HKEY_CURRENT_USER, kPromoKey, L"StubInstallerPath", RRF_RT_REG_SZ, nullptr,
                      nullptr, &size) == ERROR_SUCCESS;
}

// This test program carries the stub's resources and the demo payload, so the
// whole start-up runs in-process.
TEST(RunStub, AFailedComStartEndsWithItsResultBeforeAnythingIsWritten) {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kPromoKey, L"StubInstallerPath");
  SetCoInitializeExForTesting(&ComFailsToStart);
  EXPECT_EQ(RunStub(GetModuleHandleW(nullptr), ""), static_cast<DWORD>(E_OUTOFMEMORY));
  SetCoInitializeExForTesting(nullptr);
  EXPECT_FALSE(PromoPathRecorded());
}

TEST(RunStub, ComAlreadyStartedCountsAsSuccess) {
  SetCoInitializeExForTesting(&ComAlreadyStarted);
  EXPECT_EQ(RunStub(GetModuleHandleW(nullptr), ""), 0u);  // the demo child ran and exited 0
  SetCoInitializeExForTesting(nullptr);
  EXPECT_TRUE(PromoPathRecorded());
}

}  // namespace
}  // namespace vireo
