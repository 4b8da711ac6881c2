// RemoveTree on real folders: everything in a tree goes, whatever it is, and
// nothing that a link in it points to.
#include "tests/support/remove_tree.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/directory_listing.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/unix_symbolic_link.h"
#include "tests/support/windows_test_files.h"

namespace vireo::test {
namespace {

std::wstring LongForm(const std::wstring& path) { return L"\\\\?\\" + path; }

bool MakeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  const HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, attributes, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, "data", 4, &written, nullptr);
  CloseHandle(file);
  return ok && written == 4;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(LongForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(RemoveTree, RemovesEveryKindOfEntry) {
  ScratchFolder scratch;
  const std::wstring tree = scratch.Child(L"tree");
  ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
  ASSERT_TRUE(MakeFile(tree + L"\\plain.txt"));
  ASSERT_TRUE(MakeFile(tree + L"\\read-only.txt", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(MakeFile(tree + L"\\hidden system.txt",
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryW((tree + L"\\empty").c_str(), nullptr));
  // Folders nested beyond MAX_PATH, a read-only file at the bottom.
  std::wstring deep = tree;
  while (deep.size() < MAX_PATH + 40) {
    deep += L"\\" + std::wstring(60, L'd');
    ASSERT_TRUE(CreateDirectoryW(LongForm(deep).c_str(), nullptr)) << GetLastError();
  }
  ASSERT_TRUE(MakeFile(deep + L"\\bottom.txt", FILE_ATTRIBUTE_READONLY));

  RemoveTree(tree);
  EXPECT_FALSE(Exists(tree));
  EXPECT_TRUE(ListDirectory(scratch.path()).empty());
}

TEST(RemoveTree, RemovesASingleFileAndLeavesAMissingPathAlone) {
  ScratchFolder scratch;
  const std::wstring file = scratch.Child(L"file.txt");
  ASSERT_TRUE(MakeFile(file, FILE_ATTRIBUTE_READONLY));
  RemoveTree(file);
  EXPECT_FALSE(Exists(file));
  RemoveTree(file);
  RemoveTree(scratch.Child(L"never\\there"));
  EXPECT_TRUE(Exists(scratch.path()));
}

// Links to folders and a file outside the tree each go as themselves, and
// what they point to stays whole (Wine's own calls would remove an empty
// folder or a file at the other end).
TEST(RemoveTree, RemovesLinksWithoutFollowingThem) {
  ScratchFolder outside;
  const std::wstring full_folder = outside.Child(L"full");
  const std::wstring empty_folder = outside.Child(L"empty");
  const std::wstring file = outside.Child(L"file.txt");
  ASSERT_TRUE(CreateDirectoryW(full_folder.c_str(), nullptr));
  ASSERT_TRUE(MakeFile(full_folder + L"\\inside.txt", FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryW(empty_folder.c_str(), nullptr));
  ASSERT_TRUE(MakeFile(file));

  ScratchFolder scratch;
  const std::wstring tree = scratch.Child(L"tree");
  ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((tree + L"\\sub").c_str(), nullptr));
  if (!MakeUnixSymbolicLink(full_folder, tree + L"\\to full")) {
    GTEST_SKIP() << "links are made by Wine's Unix side; this system has none";
  }
  ASSERT_TRUE(MakeUnixSymbolicLink(empty_folder, tree + L"\\sub\\to empty"));
  ASSERT_TRUE(MakeUnixSymbolicLink(file, tree + L"\\to file"));
  EXPECT_TRUE(IsUnixSymbolicLink(tree + L"\\to file"));
  EXPECT_TRUE(IsUnixSymbolicLink(tree + L"\\sub\\to empty"));
  EXPECT_FALSE(IsUnixSymbolicLink(tree + L"\\sub"));
  EXPECT_FALSE(IsUnixSymbolicLink(full_folder + L"\\inside.txt"));

  RemoveTree(tree);
  EXPECT_FALSE(Exists(tree));
  EXPECT_EQ(ListDirectory(outside.path()),
            (std::vector<std::wstring>{L"empty", L"file.txt", L"full"}));
  EXPECT_EQ(ListDirectory(full_folder), std::vector<std::wstring>{L"inside.txt"});
  ASSERT_TRUE(PathExists(file));
  EXPECT_EQ(ReadFileBytes(file), (std::vector<uint8_t>{'d', 'a', 't', 'a'}));
}

TEST(ScratchFolder, EachIsANewEmptyFolderRemovedWithWhatItHolds) {
  std::wstring first_path;
  {
    ScratchFolder first;
    ScratchFolder second;
    first_path = first.path();
    EXPECT_NE(first.path(), second.path());
    for (const ScratchFolder* folder : {&first, &second}) {
      const DWORD attributes = GetFileAttributesW(folder->path().c_str());
      ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
      EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
      EXPECT_TRUE(ListDirectory(folder->path()).empty());
      EXPECT_NE(folder->path().back(), L'\\');
    }
    ASSERT_TRUE(CreateDirectoryW(first.Child(L"sub").c_str(), nullptr));
    ASSERT_TRUE(MakeFile(first.Child(L"sub\\file.txt"), FILE_ATTRIBUTE_READONLY));
  }
  EXPECT_FALSE(PathExists(first_path));
}

}  // namespace
}  // namespace vireo::test
