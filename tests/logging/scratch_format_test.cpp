#include "logging/scratch_format.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace vireo {
namespace {

TEST(ScratchFormat, FormatsIntoThreeRotatingBuffers) {
  const wchar_t* first = ScratchFormat(L"%s %d", L"one", 1);
  const wchar_t* second = ScratchFormat(L"%s %d", L"two", 2);
  const wchar_t* third = ScratchFormat(L"%s %d", L"three", 3);
  EXPECT_NE(first, second);
  EXPECT_NE(second, third);
  EXPECT_NE(first, third);
  EXPECT_STREQ(first, L"one 1");
  EXPECT_STREQ(second, L"two 2");
  EXPECT_STREQ(third, L"three 3");
  const wchar_t* fourth = ScratchFormat(L"%S", "four");
  EXPECT_EQ(fourth, first);
  EXPECT_STREQ(fourth, L"four");
  EXPECT_STREQ(second, L"two 2");
}

TEST(ScratchFormat, CutsLongLinesAt1024Characters) {
  for (size_t length : {1023u, 1024u, 1025u, 3000u}) {
    SCOPED_TRACE(length);
    const std::wstring long_text(length, L'z');
    EXPECT_EQ(std::wstring(ScratchFormat(L"%s", long_text.c_str())),
              std::wstring(length < 1024 ? length : 1024, L'z'));
  }
}

DWORD WINAPI FormatFiveOnAThread(void*) {
  return wcscmp(ScratchFormat(L"%d", 5), L"5") == 0 ? 0 : 1;
}

TEST(ScratchFormat, AFaultWhileFormattingGivesSprintfFailure) {
  const auto* bad = reinterpret_cast<const wchar_t*>(16);
  EXPECT_STREQ(ScratchFormat(L"%s", bad), L"sprintf failure");
  // The lock was released: another thread formats at once.
  HANDLE thread = CreateThread(nullptr, 0, &FormatFiveOnAThread, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD exit_code = 1;
  GetExitCodeThread(thread, &exit_code);
  CloseHandle(thread);
  EXPECT_EQ(exit_code, 0u);
}

TEST(ScratchFormat, AllocatesAgainAfterTheBuffersWereReleased) {
  ScratchFormat(L"before");
  ReleaseScratchFormatBuffers();
  ReleaseScratchFormatBuffers();
  EXPECT_STREQ(ScratchFormat(L"after %d", 2), L"after 2");
}

}  // namespace
}  // namespace vireo
