// The real stub under Wine on work roots that fail it for real: a small file
// system that fills up, names already taken, a read-only root. The file
// systems are mounted by fault_mounts.sh (as root), which runs each suite with
// CORVANE_FAULT_ROOT naming the case it prepared; without it the suites skip.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/stub_end_to_end.h"
#include "tests/support/directory_listing.h"
#include "tests/support/file_bytes.h"

namespace vireo::test {
namespace {

std::string FaultRoot() {
  const char* value = std::getenv("CORVANE_FAULT_ROOT");
  return value ? value : "";
}

std::wstring ProgramFilesRoot() {
  wchar_t program_files[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, program_files);
  return std::wstring(program_files) + L"\\CorvaneSoftware\\Temp";
}

std::wstring SystemTemp() {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\SystemTemp";
}

class FaultyWorkRoot : public StubEndToEnd {
 protected:
  void RequireRoot(const char* kind) {
    if (FaultRoot() != kind) {
      GTEST_SKIP() << "needs the work root prepared by tests/e2e/fault_mounts.sh (" << kind
                   << "), which mounts small file systems and must run as root";
    }
  }
};

class SmallWorkRoot : public FaultyWorkRoot {
 protected:
  void SetUp() override {
    RequireRoot("small");
    if (IsSkipped()) return;
    StubEndToEnd::SetUp();
    ASSERT_EQ(AdminWorkRoot(), SystemTemp());
  }
  void TearDown() override { DeleteFileW(filler_.c_str()); }

  // Fills the work root's file system until `free_bytes` are left.
  void LeaveFree(uint64_t free_bytes) {
    ULARGE_INTEGER available = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(SystemTemp().c_str(), &available, nullptr, nullptr));
    ASSERT_GT(available.QuadPart, free_bytes);
    filler_ = SystemTemp() + L"\\filler.bin";
    HANDLE file = CreateFileW(filler_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> block(1 << 20, 0x5A);
    uint64_t remaining = available.QuadPart - free_bytes;
    while (remaining > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(remaining, block.size()));
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(file, block.data(), chunk, &written, nullptr));
      remaining -= written;
    }
    CloseHandle(file);
    before_ = ListDirectory(SystemTemp());
  }

  // A run of a stub with a 16 MB member, `free_bytes` left on the work root's
  // file system: it fails before any child and leaves the root as it was.
  void ExpectCleanFailureWithFree(uint64_t free_bytes) {
    const std::vector<uint8_t> payload = MakePayload(
        {{"setup.exe", runner_.child_program()}, {"data.bin", std::vector<uint8_t>(16 << 20, 0)}});
    const std::wstring stub = runner_.PrepareStub(L"CorvaneUpdateSetup.exe", &payload);
    LeaveFree(free_bytes);
    const StubRun run = runner_.Run(stub);
    EXPECT_EQ(run.exit_code, kRunFailed);
    EXPECT_TRUE(run.child_command_lines.empty());
    // Exactly what was there before the run, the filler included.
    EXPECT_EQ(ListDirectory(SystemTemp()), before_);
  }

  std::wstring filler_;
  std::vector<std::wstring> before_;
};

TEST_F(SmallWorkRoot, DiskFullWhileTheTarFileIsWritten) {
  ExpectCleanFailureWithFree(6 << 20);
}

TEST_F(SmallWorkRoot, DiskFullWhileAMemberIsWritten) {
  // Room for the tar file and the program, not for the large member as well.
  ExpectCleanFailureWithFree(24 << 20);
}

// fault_mounts.sh took all but 256 of the PKM and all but 256 of the PKT names
// in the work root with empty files before the run.
class SquattedWorkRoot : public FaultyWorkRoot {
 protected:
  void SetUp() override {
    RequireRoot("squatted");
    if (IsSkipped()) return;
    StubEndToEnd::SetUp();
  }
};

TEST_F(SquattedWorkRoot, TakenNamesAreNeitherUsedNorTouched) {
  const std::vector<std::wstring> before = ListDirectory(SystemTemp());
  ASSERT_EQ(before.size(), 2u * (65535 - 256));
  const StubRun run = runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe"));
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.child_command_lines.size(), 1u);
  EXPECT_EQ(WorkDirectoryOf(run.child_command_lines[0]).rfind(SystemTemp() + L"\\PKM80", 0), 0u);
  // Every squatter is still there, and still empty.
  EXPECT_EQ(ListDirectory(SystemTemp()), before);
  for (const wchar_t* name : {L"\\PKT1.tmp", L"\\PKM7fff.tmp", L"\\PKT8100.tmp", L"\\PKMffff.tmp"}) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    EXPECT_TRUE(GetFileAttributesExW((SystemTemp() + name).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 0u) << name;
  }
}

// fault_mounts.sh mounted SystemTemp read-only and left the Program Files
// root as it is, writable.
class ReadOnlySystemTemp : public FaultyWorkRoot {
 protected:
  void SetUp() override {
    RequireRoot("system-temp-read-only");
    if (IsSkipped()) return;
    StubEndToEnd::SetUp();
  }
};

TEST_F(ReadOnlySystemTemp, TheRunPassesItOverForProgramFiles) {
  const std::wstring program_root = ProgramFilesRoot();
  const std::vector<std::wstring> system_before = ListDirectory(SystemTemp());
  const std::vector<std::wstring> program_before = ListDirectory(program_root);
  const StubRun run = runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe"));
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.child_command_lines.size(), 1u);
  EXPECT_EQ(WorkDirectoryOf(run.child_command_lines[0]).rfind(program_root + L"\\PKM", 0), 0u)
      << run.child_command_lines[0];
  EXPECT_EQ(ListDirectory(SystemTemp()), system_before);
  EXPECT_EQ(ListDirectory(program_root), program_before);
}

// fault_mounts.sh mounted both admin work roots read-only.
class ReadOnlyWorkRoot : public FaultyWorkRoot {
 protected:
  void SetUp() override {
    RequireRoot("read-only");
    if (IsSkipped()) return;
    StubEndToEnd::SetUp();
  }
};

TEST_F(ReadOnlyWorkRoot, NoWritableRootFailsBeforeAnything) {
  const std::wstring program_root = ProgramFilesRoot();
  const std::vector<std::wstring> system_before = ListDirectory(SystemTemp());
  const std::vector<std::wstring> program_before = ListDirectory(program_root);
  const StubRun run = runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe"));
  EXPECT_EQ(run.exit_code, kRunFailed);
  EXPECT_TRUE(run.child_command_lines.empty());
  EXPECT_EQ(ListDirectory(SystemTemp()), system_before);
  EXPECT_EQ(ListDirectory(program_root), program_before);
}

}  // namespace
}  // namespace vireo::test
