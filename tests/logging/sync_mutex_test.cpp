#include "logging/sync_mutex.h"

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <string>

#include "base/os_version.h"

namespace vireo {
namespace {

// The access a handle was opened with.
ACCESS_MASK GrantedAccess(HANDLE handle) {
  PUBLIC_OBJECT_BASIC_INFORMATION info = {};
  if (NtQueryObject(handle, ObjectBasicInformation, &info, sizeof(info), nullptr) != 0) return 0;
  return info.GrantedAccess;
}

// True when another thread can take the mutex at once, that is nobody owns it.
DWORD WINAPI TryTakeMutex(void* mutex) {
  const DWORD wait = WaitForSingleObject(static_cast<HANDLE>(mutex), 0);
  if (wait == WAIT_OBJECT_0) ReleaseMutex(static_cast<HANDLE>(mutex));
  return wait;
}

bool IsFree(HANDLE mutex) {
  HANDLE thread = CreateThread(nullptr, 0, &TryTakeMutex, mutex, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD result = WAIT_FAILED;
  GetExitCodeThread(thread, &result);
  CloseHandle(thread);
  return result == WAIT_OBJECT_0;
}

std::wstring UniqueName(const wchar_t* stem) {
  return std::wstring(stem) + std::to_wstring(GetCurrentProcessId()) + L"_" +
         std::to_wstring(GetTickCount());
}

class CreateSyncMutexTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetOSVersionCheckForTesting(nullptr);
    ResetKernel32EntriesForTesting();
  }
};

TEST_F(CreateSyncMutexTest, UsesTheNewerEntryWithNarrowAccessAndReportsAnExistingMutex) {
  ResetKernel32EntriesForTesting();
  const std::wstring name = UniqueName(L"vireo_sync_mutex_");
  const UniqueKernelHandle mutex = CreateSyncMutex(name.c_str(), nullptr);
  const DWORD error = GetLastError();
  ASSERT_TRUE(mutex);
  EXPECT_EQ(error, 0u);
  ASSERT_NE(ResolvedCreateMutexExW(), nullptr);
  EXPECT_EQ(
      reinterpret_cast<void*>(ResolvedCreateMutexExW()),
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateMutexExW")));
  EXPECT_EQ(GrantedAccess(mutex.get()), static_cast<ACCESS_MASK>(SYNCHRONIZE | MUTEX_MODIFY_STATE));
  EXPECT_TRUE(IsFree(mutex.get()));

  const UniqueKernelHandle again = CreateSyncMutex(name.c_str(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(again);
}

TEST_F(CreateSyncMutexTest, OnAnOlderSystemFallsBackToCreateMutexW) {
  // The platform cannot be made older than it is: the version test is replaced.
  SetOSVersionCheckForTesting([](WORD, WORD) { return false; });
  ResetKernel32EntriesForTesting();
  const std::wstring name = UniqueName(L"vireo_old_mutex_");
  const UniqueKernelHandle mutex = CreateSyncMutex(name.c_str(), nullptr);
  ASSERT_TRUE(mutex);
  EXPECT_EQ(ResolvedCreateMutexExW(), nullptr);
  EXPECT_EQ(GrantedAccess(mutex.get()), static_cast<ACCESS_MASK>(MUTEX_ALL_ACCESS));
  EXPECT_TRUE(IsFree(mutex.get()));

  const UniqueKernelHandle again = CreateSyncMutex(name.c_str(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(again);

  // The lookup is tried again once the system qualifies.
  SetOSVersionCheckForTesting(nullptr);
  EXPECT_TRUE(CreateSyncMutex(nullptr, nullptr));
  EXPECT_NE(ResolvedCreateMutexExW(), nullptr);
}

}  // namespace
}  // namespace vireo
