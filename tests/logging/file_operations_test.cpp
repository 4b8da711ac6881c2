// The file utilities of the log writer, on real files, folders and the real
// list of moves pending for the next reboot (restored afterwards).
#include "base/file_operations.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/logging/log_interface.h"
#include "tests/logging/logging_test_support.h"
#include "tests/logging/pending_renames.h"

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

}  // namespace
}  // namespace vireo
