#include "app/temp_directory.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "base/path_routines.h"

namespace vireo {
namespace {

BOOL WINAPI NotAnAdmin() { return FALSE; }
BOOL WINAPI AnAdmin() { return TRUE; }
HRESULT WINAPI ShellFolderFails(HWND, int, HANDLE, DWORD, LPWSTR) { return E_FAIL; }

std::wstring FileNameOf(const std::wstring& path) {
  return path.substr(path.find_last_of(L'\\') + 1);
}

std::wstring KnownFolder(int folder_id) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, folder_id, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

// Restores the platform's answers after each test.
class TempDirectoryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetIsUserAnAdminForTesting(nullptr);
    SetSHGetFolderPathForTesting(nullptr);
    if (!made_.temp_dir.empty()) RemoveDirectoryW(made_.temp_dir.c_str());
  }
  WorkDirectory made_;
};

TEST_F(TempDirectoryTest, UserRunWorksInTheUsersTemporaryDirectory) {
  SetIsUserAnAdminForTesting(&NotAnAdmin);
  wchar_t user_temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, user_temp);

  ASSERT_TRUE(CreateUniqueTempDirectory(&made_));
  EXPECT_STREQ(made_.temp_root.c_str(), user_temp);  // with its trailing backslash
  const std::wstring dir = made_.temp_dir.c_str();
  EXPECT_EQ(dir.rfind(user_temp, 0), 0u);
  const std::wstring name = FileNameOf(dir);
  EXPECT_EQ(name.substr(0, 3), L"PKM");
  EXPECT_EQ(name.substr(name.size() - 4), L".tmp");
  EXPECT_TRUE(IsDirectory(made_.temp_dir.c_str()));
}

TEST_F(TempDirectoryTest, TwoRunsGetTwoDirectories) {
  SetIsUserAnAdminForTesting(&NotAnAdmin);
  WorkDirectory second;
  ASSERT_TRUE(CreateUniqueTempDirectory(&made_));
  ASSERT_TRUE(CreateUniqueTempDirectory(&second));
  EXPECT_STRNE(made_.temp_dir.c_str(), second.temp_dir.c_str());
  RemoveDirectoryW(second.temp_dir.c_str());
}

TEST_F(TempDirectoryTest, AdministratorPrefersAWritableSystemTemp) {
  SetIsUserAnAdminForTesting(&AnAdmin);
  const std::wstring system_temp = KnownFolder(CSIDL_WINDOWS) + L"\\SystemTemp";
  const bool existed = IsDirectory(system_temp.c_str());
  ASSERT_TRUE(existed || CreateDirectoryW(system_temp.c_str(), nullptr));

  EXPECT_STREQ(GetAdminTempRoot().c_str(), system_temp.c_str());
  ASSERT_TRUE(CreateUniqueTempDirectory(&made_));
  EXPECT_STREQ(made_.temp_root.c_str(), system_temp.c_str());
  EXPECT_EQ(std::wstring(made_.temp_dir.c_str()).rfind(system_temp + L"\\PKM", 0), 0u);

  if (!existed) {
    RemoveDirectoryW(made_.temp_dir.c_str());
    made_.temp_dir.Clear();
    EXPECT_TRUE(RemoveDirectoryW(system_temp.c_str())) << "the write probe was left behind";
  }
}

TEST_F(TempDirectoryTest, AdministratorWithoutSystemTempGetsAProgramFilesFolder) {
  SetIsUserAnAdminForTesting(&AnAdmin);
  const std::wstring system_temp = KnownFolder(CSIDL_WINDOWS) + L"\\SystemTemp";
  if (IsDirectory(system_temp.c_str())) GTEST_SKIP() << "SystemTemp exists in this prefix";

  const std::wstring expected = KnownFolder(CSIDL_PROGRAM_FILES) + L"\\CorvaneSoftware\\Temp";
  EXPECT_STREQ(GetAdminTempRoot().c_str(), expected.c_str());
  EXPECT_TRUE(IsDirectory(expected.c_str()));  // created on demand, and kept
}

TEST_F(TempDirectoryTest, AdministratorNeverFallsBackToTheUsersDirectory) {
  SetIsUserAnAdminForTesting(&AnAdmin);
  // Neither candidate resolves: the shell fails, and no variable stands in.
  SetSHGetFolderPathForTesting(&ShellFolderFails);
  const WideString saved = ReadEnvironmentVariable(L"ProgramFiles");
  SetEnvironmentVariableW(L"ProgramFiles", nullptr);
  EXPECT_FALSE(CreateUniqueTempDirectory(&made_));
  EXPECT_TRUE(made_.temp_dir.empty());
  EXPECT_TRUE(made_.temp_root.empty());
  SetEnvironmentVariableW(L"ProgramFiles", saved.c_str());
}

TEST_F(TempDirectoryTest, FolderLookupFallsBackToEnvironmentForProgramFilesOnly) {
  SetSHGetFolderPathForTesting(&ShellFolderFails);
  const WideString saved = ReadEnvironmentVariable(L"ProgramFiles");
  SetEnvironmentVariableW(L"ProgramFiles", L"D:\\Apps");

  WideString path;
  EXPECT_EQ(GetFolderPath(CSIDL_PROGRAM_FILES, &path), S_FALSE);
  EXPECT_STREQ(path.c_str(), L"D:\\Apps");
  EXPECT_EQ(GetFolderPath(CSIDL_PROGRAM_FILES | CSIDL_FLAG_CREATE, &path), S_FALSE);
  EXPECT_EQ(GetFolderPath(CSIDL_WINDOWS, &path), E_FAIL);
  EXPECT_TRUE(path.empty());

  SetEnvironmentVariableW(L"ProgramFiles", saved.c_str());
}

TEST_F(TempDirectoryTest, SubdirectoryThatDoesNotFit) {
  WideString path;
  const std::wstring long_name(MAX_PATH, L'x');
  EXPECT_EQ(GetFolderSubdirectory(CSIDL_WINDOWS, long_name.c_str(), false, &path),
            static_cast<HRESULT>(0x80040709));
}

TEST_F(TempDirectoryTest, UniqueDirectoryInABaseThatCannotBeCreated) {
  WideString temp_dir(L"unchanged");
  EXPECT_FALSE(CreateUniqueDirectoryIn(L"Q:\\no\\such\\drive", &temp_dir));
  EXPECT_STREQ(temp_dir.c_str(), L"unchanged");
}

}  // namespace
}  // namespace vireo
