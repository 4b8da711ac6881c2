#include "base/system_helpers.h"

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/scratch_folder.h"

namespace vireo {
namespace {

std::wstring Str(const WideString& text) { return std::wstring(text.c_str(), text.length()); }

std::wstring ModulePathOf(HMODULE module) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

TEST(ModuleNames, OfTheRunningProgram) {
  const std::wstring expected = ModulePathOf(nullptr);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(Str(GetModuleFilePath(nullptr)), expected);
  EXPECT_EQ(Str(GetModuleName(nullptr)), L"base_tests.exe");
  EXPECT_EQ(Str(GetModuleNameWithoutExtension(nullptr)), L"base_tests");
}

TEST(ModuleNames, EmptyForAHandleThePlatformRejects) {
  const auto bogus = reinterpret_cast<HMODULE>(0x10);
  EXPECT_TRUE(GetModuleFilePath(bogus).empty());
  EXPECT_TRUE(GetModuleName(bogus).empty());
  EXPECT_TRUE(GetModuleNameWithoutExtension(bogus).empty());
}

TEST(ModuleNames, APathLongerThanMaxPathComesBackWhole) {
  const char* module_source = std::getenv("CORVANE_TEST_MODULE");
  ASSERT_NE(module_source, nullptr) << "CTest sets CORVANE_TEST_MODULE";
  test::ScratchFolder scratch;
  std::wstring directory = L"\\\\?\\" + scratch.path();
  while (directory.size() < 300) {
    directory += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << GetLastError();
  }
  const std::wstring copy = directory + L"\\two.dots.module.dll";
  const std::wstring source(module_source, module_source + strlen(module_source));
  ASSERT_TRUE(CopyFileW(source.c_str(), copy.c_str(), FALSE)) << GetLastError();

  const HMODULE module = LoadLibraryW(copy.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  const std::wstring expected = ModulePathOf(module);
  EXPECT_GT(expected.size(), 300u);
  EXPECT_EQ(Str(GetModuleFilePath(module)), expected);
  EXPECT_EQ(Str(GetModuleName(module)), L"two.dots.module.dll");
  EXPECT_EQ(Str(GetModuleNameWithoutExtension(module)), L"two.dots.module");
  FreeLibrary(module);
}

TEST(PathParts, FileNameAndDirectory) {
  struct Case {
    const wchar_t* path;
    const wchar_t* file_name;
    const wchar_t* directory;
  };
  const Case cases[] = {
      {L"C:\\ProgramData\\CorvaneSoftware\\Update\\Log\\CorvaneUpdate.log", L"CorvaneUpdate.log",
       L"C:\\ProgramData\\CorvaneSoftware\\Update\\Log"},
      {L"CorvaneUpdate.log", L"CorvaneUpdate.log", L""},
      {L"C:\\file.txt", L"file.txt", L"C:\\"},
      {L"", L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Str(GetFileNameFromPath(c.path)), c.file_name);
    EXPECT_EQ(Str(GetDirectoryFromPath(c.path)), c.directory);
  }
}

TEST(FormatString, GrowsByDoublingWhenTheTextDoesNotFit) {
  struct Case {
    size_t length;
    size_t capacity;
  };
  // The longest text at a capacity is two characters shorter than it.
  const Case cases[] = {{0, 256}, {254, 256}, {255, 512}, {510, 512}, {511, 1024}, {5000, 8192}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::wstring text(c.length, L'x');
    WideString output(L"previous text");
    EXPECT_EQ(FormatString(&output, L"%s", text.c_str()), S_OK);
    EXPECT_EQ(Str(output), text);
    EXPECT_EQ(output.capacity(), c.capacity);
  }
}

TEST(FormatString, StartsAtTheFormatsLengthForALongFormat) {
  const std::wstring format(300, L'f');
  WideString output;
  EXPECT_EQ(FormatString(&output, format.c_str()), S_OK);
  EXPECT_EQ(Str(output), format);
  EXPECT_EQ(output.capacity(), 600u);  // 300 fits only 298 characters.
}

TEST(FormatString, TheOutputsOwnTextMayBeAValue) {
  WideString output(std::wstring(300, L'a').c_str());
  EXPECT_EQ(FormatString(&output, L"%s|%s", output.c_str(), output.c_str()), S_OK);
  EXPECT_EQ(Str(output), std::wstring(300, L'a') + L"|" + std::wstring(300, L'a'));
}

TEST(FormatString, WideAndNarrowArguments) {
  WideString output;
  EXPECT_EQ(
      FormatString(&output, L"[%s][%S][%hs][%d][0x%08x]", L"wide", "narrow", "short", -5, 0xBEEF),
      S_OK);
  EXPECT_EQ(Str(output), L"[wide][narrow][short][-5][0x0000beef]");
}

TEST(AppendFormatString, AppendsToWhatIsThere) {
  WideString output(L"prefix ");
  AppendFormatString(&output, L"%d-%s", 7, L"seven");
  AppendFormatString(&output, L"%s", std::wstring(600, L'y').c_str());
  EXPECT_EQ(Str(output), L"prefix 7-seven" + std::wstring(600, L'y'));
}

TEST(HResultFromLastError, ConvertsEachKindOfCode) {
  struct Case {
    DWORD error;
    HRESULT expected;
  };
  const Case cases[] = {
      {0, static_cast<HRESULT>(0x80004005)},
      {ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005)},
      {ERROR_ALREADY_EXISTS, static_cast<HRESULT>(0x800700B7)},
      {0x12345, static_cast<HRESULT>(0x80072345)},
      {0x8007000E, static_cast<HRESULT>(0x8007000E)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    SetLastError(c.error);
    EXPECT_EQ(HResultFromLastError(), c.expected);
  }
}

TEST(GetProcAddressLogged, FindsRefusesAndReportsMissingEntries) {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  FARPROC place = reinterpret_cast<FARPROC>(1);
  EXPECT_FALSE(GetProcAddressLogged(nullptr, "Sleep", &place));
  EXPECT_FALSE(GetProcAddressLogged(kernel32, nullptr, &place));
  EXPECT_FALSE(GetProcAddressLogged(kernel32, "Sleep", nullptr));
  EXPECT_EQ(place, reinterpret_cast<FARPROC>(1));

  EXPECT_FALSE(GetProcAddressLogged(kernel32, "NoSuchEntryPoint", &place));
  EXPECT_EQ(place, nullptr);
  EXPECT_TRUE(GetProcAddressLogged(kernel32, "Sleep", &place));
  EXPECT_EQ(place, GetProcAddress(kernel32, "Sleep"));
}

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
  HANDLE mutex = CreateSyncMutex(name.c_str(), nullptr);
  const DWORD error = GetLastError();
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(error, 0u);
  ASSERT_NE(ResolvedCreateMutexExW(), nullptr);
  EXPECT_EQ(
      reinterpret_cast<void*>(ResolvedCreateMutexExW()),
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateMutexExW")));
  EXPECT_EQ(GrantedAccess(mutex), static_cast<ACCESS_MASK>(SYNCHRONIZE | MUTEX_MODIFY_STATE));
  EXPECT_TRUE(IsFree(mutex));

  HANDLE again = CreateSyncMutex(name.c_str(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_NE(again, nullptr);
  CloseHandle(again);
  CloseHandle(mutex);
}

TEST_F(CreateSyncMutexTest, OnAnOlderSystemFallsBackToCreateMutexW) {
  // The platform cannot be made older than it is: the version test is replaced.
  SetOSVersionCheckForTesting([](WORD, WORD) { return false; });
  ResetKernel32EntriesForTesting();
  const std::wstring name = UniqueName(L"vireo_old_mutex_");
  HANDLE mutex = CreateSyncMutex(name.c_str(), nullptr);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(ResolvedCreateMutexExW(), nullptr);
  EXPECT_EQ(GrantedAccess(mutex), static_cast<ACCESS_MASK>(MUTEX_ALL_ACCESS));
  EXPECT_TRUE(IsFree(mutex));

  HANDLE again = CreateSyncMutex(name.c_str(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(again);
  CloseHandle(mutex);

  // The lookup is tried again once the system qualifies.
  SetOSVersionCheckForTesting(nullptr);
  CloseHandle(CreateSyncMutex(nullptr, nullptr));
  EXPECT_NE(ResolvedCreateMutexExW(), nullptr);
}

}  // namespace
}  // namespace vireo
