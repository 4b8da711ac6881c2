// The file utilities of the log writer, on real files, folders and the real
// list of moves pending for the next reboot (restored afterwards).
#include "logging/file_operations.h"

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/log_interface.h"
#include "tests/logging/logging_test_support.h"
#include "tests/logging/pending_renames.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/unix_symbolic_link.h"

namespace vireo {
namespace {

using test::RecordingWriter;
using test::ScratchFolder;

// Records what the file utilities log through the process-wide object.
class FileOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder_.wants_ = [](LogCategory, LogLevel) { return true; };
    ASSERT_TRUE(g_logging.AttachWriter(&recorder_));
  }
  void TearDown() override { g_logging.DetachWriter(&recorder_); }
  std::vector<RecordingWriter::Entry> logged() { return recorder_.entries(); }

  ScratchFolder folder_;
  RecordingWriter recorder_;
};

TEST_F(FileOperations, IsReparsePoint) {
  const std::wstring file = folder_.Child(L"file.txt");
  const std::wstring link = folder_.Child(L"link");
  ScratchFolder target;
  test::WriteText(file, "x");
  test::ScopedUnixSymbolicLink linked(target.path(), link);
  ASSERT_TRUE(linked.made());
  for (const auto& [path, expected] : {std::pair{file, false}, std::pair{folder_.path(), false},
                                       std::pair{link, true}}) {
    bool reparse = !expected;
    EXPECT_EQ(File::IsReparsePoint(path.c_str(), &reparse), S_OK) << test::Narrow(path);
    EXPECT_EQ(reparse, expected) << test::Narrow(path);
  }
  EXPECT_TRUE(logged().empty());
}

TEST_F(FileOperations, IsReparsePointOfAMissingPathFailsAndLogs) {
  const std::wstring missing = folder_.Child(L"missing");
  bool reparse = true;
  EXPECT_EQ(File::IsReparsePoint(missing.c_str(), &reparse), static_cast<HRESULT>(0x80070002));
  EXPECT_TRUE(reparse);
  reparse = false;
  File::IsReparsePoint(missing.c_str(), &reparse);
  EXPECT_FALSE(reparse);
  ASSERT_EQ(logged().size(), 2u);
  EXPECT_EQ(logged()[0].message,
            L"[File::IsReparsePoint][::GetFileAttributesEx failed][" + missing + L"][0x80070002]");
  EXPECT_EQ(logged()[0].category, LC_UTIL);
  EXPECT_EQ(logged()[0].level, LL_ERROR);
}

TEST_F(FileOperations, MoveReplacesTheTarget) {
  const std::wstring from = folder_.Child(L"from.log");
  const std::wstring to = folder_.Child(L"to.bak");
  test::WriteText(from, "new");
  test::WriteText(to, "old");
  EXPECT_EQ(File::Move(from.c_str(), to.c_str()), S_OK);
  EXPECT_FALSE(test::PathExists(from));
  EXPECT_EQ(test::ReadBytes(to), (std::vector<uint8_t>{'n', 'e', 'w'}));
  EXPECT_TRUE(logged().empty());
}

TEST_F(FileOperations, FailedMoveLogsBothPaths) {
  const std::wstring from = folder_.Child(L"missing.log");
  const std::wstring to = folder_.Child(L"to.bak");
  EXPECT_EQ(File::Move(from.c_str(), to.c_str()), static_cast<HRESULT>(0x80070002));
  ASSERT_EQ(logged().size(), 1u);
  EXPECT_EQ(logged()[0].message, L"[File::Move - MoveFileEx failed][from=" + from + L"][to=" + to +
                                     L"][replace=1][0x80070002]");
  EXPECT_EQ(logged()[0].level, LL_ERROR);
}

TEST_F(FileOperations, MoveAfterRebootOfAMissingFile) {
  test::PendingRenames pending;
  const std::wstring from = folder_.Child(L"missing.log");
  const std::wstring to = folder_.Child(L"to.bak");
  EXPECT_EQ(File::MoveAfterReboot(from.c_str(), to.c_str()), static_cast<HRESULT>(0x80070002));
  ASSERT_EQ(logged().size(), 1u);
  EXPECT_EQ(logged()[0].message, L"[File::MoveAfterReboot][file doesn't exist][from " + from + L"]");
  EXPECT_EQ(logged()[0].level, LL_WARNING);
  EXPECT_EQ(pending.Read(), pending.original());
}

// A file is moved replacing the target ("!" before the target in the list); a
// folder is not.
TEST_F(FileOperations, MoveAfterRebootSchedulesTheMove) {
  test::PendingRenames pending;
  const std::wstring file = folder_.Child(L"file.log");
  const std::wstring folder = folder_.Child(L"folder");
  test::WriteText(file, "x");
  CreateDirectoryW(folder.c_str(), nullptr);
  EXPECT_EQ(File::MoveAfterReboot(file.c_str(), (file + L".bak").c_str()), S_OK);
  EXPECT_EQ(File::MoveAfterReboot(folder.c_str(), (folder + L".old").c_str()), S_OK);
  const std::vector<std::wstring> added = pending.Added();
  EXPECT_EQ(added, (std::vector<std::wstring>{L"\\??\\" + file, L"!\\??\\" + file + L".bak",
                                              L"\\??\\" + folder, L"\\??\\" + folder + L".old"}));
  EXPECT_TRUE(test::PathExists(file));
  EXPECT_TRUE(logged().empty());
}

UniqueFile OpenFolder(const std::wstring& folder) {
  return UniqueFile(CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

uint64_t FileIndex(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file, &info)) return 0;
  return (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// Opens inside the folder behind a handle, never outside it, and opens the
// file behind a handle again with other access.
TEST_F(FileOperations, OpenRelative) {
  const UniqueFile folder = OpenFolder(folder_.path());
  ASSERT_TRUE(folder);
  UniqueFile file;
  EXPECT_EQ(File::OpenRelative(folder.get(), L"new.log", GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                               FILE_NON_DIRECTORY_FILE, &file),
            S_OK);
  ASSERT_TRUE(file);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file.get(), "abc", 3, &written, nullptr));
  EXPECT_EQ(test::ReadBytes(folder_.Child(L"new.log")), (std::vector<uint8_t>{'a', 'b', 'c'}));

  UniqueFile again;
  EXPECT_EQ(File::OpenRelative(file.get(), L"", FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                               0, &again),
            S_OK);
  EXPECT_EQ(FileIndex(again.get()), FileIndex(file.get()));

  // A name of more than one part could lead out of the folder.
  for (const wchar_t* name : {L"..\\outside.log", L"sub\\x.log", L"sub/x.log"}) {
    SCOPED_TRACE(test::Narrow(name));
    EXPECT_EQ(File::OpenRelative(folder.get(), name, GENERIC_WRITE, 0, FILE_OPEN_IF, 0, &again),
              E_INVALIDARG);
    EXPECT_FALSE(again);
  }
  EXPECT_EQ(File::OpenRelative(folder.get(), L"missing.log", FILE_READ_ATTRIBUTES, 0, FILE_OPEN,
                               0, &again),
            static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(logged().empty());
}

// The file behind the handle takes the new name beside it, replacing an older
// file of that name. (That it is the file, not whatever its old name leads to
// by then, Wine cannot show: it renames by the name the handle was opened
// with.)
TEST_F(FileOperations, MoveByHandleRenamesBesideItself) {
  const UniqueFile folder = OpenFolder(folder_.path());
  const std::wstring log = folder_.Child(L"a.log");
  test::WriteText(log, "checked");
  test::WriteText(folder_.Child(L"a.log.bak"), "older backup");
  UniqueFile file(CreateFileW(log.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  const uint64_t index = FileIndex(file.get());

  EXPECT_EQ(File::Move(file.get(), folder.get(), L"a.log.bak"), S_OK);
  EXPECT_FALSE(test::PathExists(log));
  EXPECT_EQ(test::ReadBytes(folder_.Child(L"a.log.bak")),
            (std::vector<uint8_t>{'c', 'h', 'e', 'c', 'k', 'e', 'd'}));
  UniqueFile moved(CreateFileW(folder_.Child(L"a.log.bak").c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(FileIndex(moved.get()), index);
  EXPECT_TRUE(logged().empty());
}

// Another open without delete sharing refuses the move, as it refuses any;
// so does a folder in the way. Each failure is logged with its code.
TEST_F(FileOperations, FailedMoveByHandleLogsItsCode) {
  const UniqueFile folder = OpenFolder(folder_.path());
  const std::wstring log = folder_.Child(L"a.log");
  test::WriteText(log, "x");
  UniqueFile file(CreateFileW(log.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  {
    UniqueFile other(CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(other);
    EXPECT_EQ(File::Move(file.get(), folder.get(), L"a.log.bak"), static_cast<HRESULT>(0x80070020));
  }
  CreateDirectoryW(folder_.Child(L"a.log.bak").c_str(), nullptr);
  const HRESULT into_folder = File::Move(file.get(), folder.get(), L"a.log.bak");
  EXPECT_TRUE(FAILED(into_folder));
  EXPECT_TRUE(test::PathExists(log));
  ASSERT_EQ(logged().size(), 2u);
  EXPECT_EQ(logged()[0].message,
            L"[File::Move - rename by handle failed][to=a.log.bak][replace=1][0x80070020]");
  EXPECT_EQ(logged()[0].level, LL_ERROR);
  EXPECT_EQ(logged()[0].category, LC_UTIL);
  wchar_t code[16];
  wsprintfW(code, L"0x%x]", static_cast<unsigned>(into_folder));
  EXPECT_NE(logged()[1].message.find(code), std::wstring::npos);
}

}  // namespace
}  // namespace vireo
