// What a run's files owner removes, on real files in a real folder.
#include "app/run_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/windows_test_files.h"

namespace vireo {
namespace {

using test::PathExists;
using test::UniqueTempPath;

void Touch(const std::wstring& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << ::GetLastError();
  ::CloseHandle(file);
}

TEST(RunFiles, UnpackedFilesAlwaysGoTheRestUnlessTheChildAskedToKeepThem) {
  const struct {
    const char* label;
    bool keep_requested;
    bool child_left_a_file;
    bool tar_and_copy_remain;
    bool directory_remains;
  } cases[] = {
      {"a run that ended", false, false, false, false},
      {"a child that asked to keep its files", true, false, true, true},
      {"a child that left a file of its own", false, true, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::wstring root = UniqueTempPath(L"RUN");
    const std::wstring dir = root + L"\\work";
    ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
    const std::wstring tar = root + L"\\PKT1.tmp";
    const std::wstring member = dir + L"\\setup.exe";
    const std::wstring copy = dir + L"\\CorvaneUpdateSetup.exe";
    const std::wstring left = dir + L"\\child.log";
    {
      RunFiles files;
      files.work().temp_dir = dir.c_str();
      files.work().temp_root = (root + L"\\").c_str();
      for (const std::wstring* path : {&tar, &member, &copy}) Touch(*path);
      files.RecordKeepable(tar.c_str());
      files.RecordUnpacked(member.c_str());
      files.RecordKeepable(copy.c_str());
      ASSERT_EQ(files.files().size(), 3u);
      EXPECT_TRUE(files.files()[1].unpacked);
      if (c.child_left_a_file) Touch(left);
      if (c.keep_requested) files.KeepOnRequest();
    }
    EXPECT_FALSE(PathExists(member));
    EXPECT_EQ(PathExists(tar), c.tar_and_copy_remain);
    EXPECT_EQ(PathExists(copy), c.tar_and_copy_remain);
    EXPECT_EQ(PathExists(dir), c.directory_remains);
    EXPECT_TRUE(PathExists(root)) << "the base the run worked in is never removed";
    for (const std::wstring* path : {&tar, &copy, &left}) ::DeleteFileW(path->c_str());
    ::RemoveDirectoryW(dir.c_str());
    EXPECT_TRUE(::RemoveDirectoryW(root.c_str()));
  }
}

TEST(RunFiles, ARunWithoutAWorkDirectoryRemovesOnlyItsFiles) {
  const std::wstring file = UniqueTempPath(L"RUN");
  Touch(file);
  {
    RunFiles files;
    files.RecordKeepable(file.c_str());
  }
  EXPECT_FALSE(PathExists(file));
}

}  // namespace
}  // namespace vireo
