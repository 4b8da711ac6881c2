#include "app/process_launch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/windows_test_files.h"
#include "tests/support/wine_path.h"

namespace vireo {
namespace {

std::wstring ChildPath() { return test::PathFromEnvironment("CORVANE_TEST_CHILD"); }

TEST(RunProcessAndWait, TheChildsExitCodeIsReadWhole) {
  const std::wstring child = L"\"" + ChildPath() + L"\"";
  for (DWORD code : {0ul, 1ul, 0xFFFFFFFBul, 0x8004FFFFul, 0xFFFFFFFFul}) {
    SetEnvironmentVariableW(L"CORVANE_CHILD_EXIT_CODE", std::to_wstring(code).c_str());
    DWORD exit_code = 12345;
    EXPECT_TRUE(RunProcessAndWait(child.c_str(), &exit_code));
    EXPECT_EQ(exit_code, code);
  }
  SetEnvironmentVariableW(L"CORVANE_CHILD_EXIT_CODE", nullptr);
}

TEST(RunProcessAndWait, AChildThatCannotBeCreatedGivesTheSystemError) {
  DWORD exit_code = 0xFFFFFFFF;
  EXPECT_FALSE(RunProcessAndWait(L"C:\\no\\such\\program.exe /install", &exit_code));
  EXPECT_TRUE(exit_code == ERROR_FILE_NOT_FOUND || exit_code == ERROR_PATH_NOT_FOUND)
      << exit_code;

  // Not a valid program: a text file named .exe.
  const std::wstring fake = test::UniqueTempPath(L"BAD") + L".exe";
  HANDLE file = CreateFileW(fake.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "not a program", 13, &written, nullptr);
  CloseHandle(file);
  EXPECT_FALSE(RunProcessAndWait(fake.c_str(), &exit_code));
  EXPECT_EQ(exit_code, static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  DeleteFileW(fake.c_str());
}

}  // namespace
}  // namespace vireo
