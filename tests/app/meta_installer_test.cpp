#include "app/meta_installer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/temp_directory.h"
#include "tests/support/windows_test_files.h"

namespace vireo {
namespace {

using test::FromUtf8;
using test::PathExists;
using test::ReadFileText;
using test::UniqueTempPath;

constexpr wchar_t kDefaultTagReferral[] =
    L"\"appguid={4E1B7C2A-93D5-4F0E-B6A8-2C71D9E05F34}&appname=Corvane-Release"
    L"&needsadmin=prefers&ap=corvane&referral=none\"";

BOOL WINAPI NotAnAdmin() { return FALSE; }

std::vector<std::wstring> FilesToDelete(const MetaInstaller& run) {
  std::vector<std::wstring> files;
  for (size_t i = 0; i < run.files_to_delete().size(); ++i) {
    files.push_back(run.files_to_delete()[i].path.c_str());
  }
  return files;
}

TEST(OnFileExtracted, TheFirstExeInArchiveOrderIsStartedWithItsOwnLetterCase) {
  MetaInstaller run(nullptr, L"", L"none");
  for (const wchar_t* path : {L"C:\\w\\a.dll", L"C:\\w\\.exe", L"C:\\w\\Setup.EXE", L"C:\\w\\b.exe"}) {
    MetaInstaller::OnFileExtracted(&run, path);
  }
  EXPECT_STREQ(run.exe_path().c_str(), L"C:\\w\\Setup.EXE");
  EXPECT_EQ(FilesToDelete(run),
            (std::vector<std::wstring>{L"C:\\w\\a.dll", L"C:\\w\\.exe", L"C:\\w\\Setup.EXE",
                                       L"C:\\w\\b.exe"}));
}

TEST(OnFileExtracted, ANameOfJustDotExeIsNeverChosen) {
  MetaInstaller run(nullptr, L"", L"none");
  MetaInstaller::OnFileExtracted(&run, L"C:\\w\\.exe");
  EXPECT_TRUE(run.exe_path().empty());
  MetaInstaller::OnFileExtracted(&run, L"x.exe");  // no directory part at all
  EXPECT_STREQ(run.exe_path().c_str(), L"x.exe");
}

// Runs the payload embedded in this test program (the demo payload) in-process,
// as a user without administrator rights, with the demo child's behaviour set
// through its environment.
class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetIsUserAnAdminForTesting(&NotAnAdmin);
    record_ = UniqueTempPath(L"REC");
    SetEnvironmentVariableW(L"CORVANE_CHILD_RECORD", record_.c_str());
  }
  void TearDown() override {
    SetIsUserAnAdminForTesting(nullptr);
    for (const wchar_t* name :
         {L"CORVANE_CHILD_RECORD", L"CORVANE_CHILD_EXIT_CODE", L"CORVANE_CHILD_LEAVE_FILE"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
    DeleteFileW(record_.c_str());
  }
  std::wstring Received() { return FromUtf8(ReadFileText(record_)); }

  // What a whole run left to look at once the MetaInstaller is gone.
  struct Finished {
    DWORD result;
    std::wstring temp_dir;
    std::vector<std::wstring> files;
  };
  static Finished RunAndDestroy() {
    MetaInstaller run(GetModuleHandleW(nullptr), L"", L"none");
    const DWORD result = run.ExtractAndRun();
    return {result, run.temp_dir().c_str(), FilesToDelete(run)};
  }

  std::wstring record_;
};

TEST_F(RunTest, UserRunStartsTheChildAndRemovesEverything) {
  std::wstring temp_dir;
  std::vector<std::wstring> files;
  {
    MetaInstaller run(GetModuleHandleW(nullptr), L"", L"none");
    EXPECT_EQ(run.ExtractAndRun(), 0u);
    temp_dir = run.temp_dir().c_str();
    files = FilesToDelete(run);

    EXPECT_EQ(Received(), temp_dir + L"\\setup.exe /installsource taggedmi /install " +
                              kDefaultTagReferral + L"\n");
    // The tar file in temp_root, the members in archive order, the stub's copy.
    ASSERT_GE(files.size(), 3u);
    EXPECT_EQ(files.front().rfind(std::wstring(run.temp_root().c_str()) + L"PKT", 0), 0u);
    EXPECT_EQ(files.back(), temp_dir + L"\\CorvaneUpdateSetup.exe");
    EXPECT_TRUE(PathExists(files.back()));
  }
  for (const auto& file : files) EXPECT_FALSE(PathExists(file)) << file.c_str();
  EXPECT_FALSE(PathExists(temp_dir));
}

TEST_F(RunTest, ExitCodesTravelUnchanged) {
  for (const wchar_t* code : {L"0", L"-5", L"0x80070005", L"1"}) {
    SetEnvironmentVariableW(L"CORVANE_CHILD_EXIT_CODE", code);
    MetaInstaller run(GetModuleHandleW(nullptr), L"/install", L"none");
    EXPECT_EQ(run.ExtractAndRun(), wcstoul(code[0] == L'-' ? L"4294967291" : code, nullptr, 0))
        << code;
  }
}

TEST_F(RunTest, KeepFilesCodeLeavesTheCopyAndTheTarButNotTheMembers) {
  SetEnvironmentVariableW(L"CORVANE_CHILD_EXIT_CODE", L"0x8004FFFF");
  const auto [result, temp_dir, files] = RunAndDestroy();
  EXPECT_EQ(result, kKeepFilesExitCode);
  ASSERT_GE(files.size(), 3u);
  EXPECT_TRUE(PathExists(files.front()));  // the tar file
  EXPECT_TRUE(PathExists(files.back()));   // the stub's copy
  for (size_t i = 1; i + 1 < files.size(); ++i) EXPECT_FALSE(PathExists(files[i]));
  EXPECT_TRUE(PathExists(temp_dir));
  for (const auto& file : files) DeleteFileW(file.c_str());
  EXPECT_TRUE(RemoveDirectoryW(temp_dir.c_str()));
}

TEST_F(RunTest, FilesTheChildLeavesKeepTheDirectoryButOursAreGone) {
  SetEnvironmentVariableW(L"CORVANE_CHILD_LEAVE_FILE", L"child-log.txt");
  const auto [result, temp_dir, files] = RunAndDestroy();
  EXPECT_EQ(result, 0u);
  for (const auto& file : files) EXPECT_FALSE(PathExists(file));
  EXPECT_TRUE(PathExists(temp_dir + L"\\child-log.txt"));
  DeleteFileW((temp_dir + L"\\child-log.txt").c_str());
  EXPECT_TRUE(RemoveDirectoryW(temp_dir.c_str()));
}

}  // namespace
}  // namespace vireo
