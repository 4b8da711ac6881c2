#include "base/path_routines.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scratch_folder.h"

namespace vireo {
namespace {

class PathRoutinesTest : public ::testing::Test {
 protected:
  const test::ScratchFolder scratch_;
  const std::wstring root_ = scratch_.path();
};

TEST_F(PathRoutinesTest, DirectoryTreeIsCreatedFromTheTopDown) {
  const std::wstring deep = root_ + L"\\a\\b\\c";
  EXPECT_EQ(CreateDirectoryTree(deep.c_str()), S_OK);
  EXPECT_TRUE(IsDirectory(deep.c_str()));
  // Existing: nothing to do, still success.
  EXPECT_EQ(CreateDirectoryTree(deep.c_str()), S_OK);
}

TEST_F(PathRoutinesTest, DirectoryTreeTreatsForwardSlashesAsSeparators) {
  std::wstring with_slashes = root_ + L"/x/y";
  EXPECT_EQ(CreateDirectoryTree(with_slashes.c_str()), S_OK);
  EXPECT_TRUE(IsDirectory((root_ + L"\\x\\y").c_str()));
}

TEST_F(PathRoutinesTest, DirectoryTreeReportsTheFailingDirectory) {
  // A file stands where a directory is needed.
  const std::wstring file = root_ + L"\\file";
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  const HRESULT hr = CreateDirectoryTree((file + L"\\below").c_str());
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32);
  DeleteFileW(file.c_str());

  // A leading backslash makes an empty first prefix, which cannot be created.
  EXPECT_TRUE(FAILED(CreateDirectoryTree(L"\\no-such-root-dir\\x")));
}

TEST_F(PathRoutinesTest, FileExistsAndIsDirectory) {
  EXPECT_TRUE(FileExists(root_.c_str()));
  EXPECT_TRUE(IsDirectory(root_.c_str()));
  const WideString file = GetTempFileNameIn(root_.c_str(), L"PKT");
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(std::wstring(file.c_str()).rfind(root_ + L"\\PKT", 0), 0u);
  EXPECT_TRUE(FileExists(file.c_str()));
  EXPECT_FALSE(IsDirectory(file.c_str()));
  DeleteFileW(file.c_str());
  EXPECT_FALSE(FileExists(file.c_str()));
  EXPECT_TRUE(GetTempFileNameIn((root_ + L"\\missing").c_str(), L"PKT").empty());
}

TEST(ReadEnvironmentVariable, ValueOrEmpty) {
  SetEnvironmentVariableW(L"CORVANE_TEST_VARIABLE", L"value with blanks");
  EXPECT_STREQ(ReadEnvironmentVariable(L"CORVANE_TEST_VARIABLE").c_str(), L"value with blanks");
  SetEnvironmentVariableW(L"CORVANE_TEST_VARIABLE", nullptr);
  EXPECT_TRUE(ReadEnvironmentVariable(L"CORVANE_TEST_VARIABLE").empty());
}

}  // namespace
}  // namespace vireo
