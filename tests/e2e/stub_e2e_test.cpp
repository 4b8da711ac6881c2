// The real stub, run under Wine: what its child receives, how exit codes
// travel, and what is left behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/debug_output_capture.h"
#include "tests/e2e/stub_end_to_end.h"

namespace vireo::test {
namespace {

TEST_F(StubEndToEnd, WithoutParametersTheChildGetsTheInstallSwitchesAndTheDefaultTag) {
  const StubRun run = runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe"));
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(Only(run), Program(run) + L" /installsource taggedmi /install \"" + Widen(kDefaultTag) +
                           L"&referral=none\"");
  // Wine runs every user as an administrator: the work directory lies under the
  // protected root, whose Program Files path has blanks.
  EXPECT_EQ(WorkDirectoryOf(Only(run)).rfind(AdminWorkRoot() + L"\\PKM", 0), 0u);
  EXPECT_FALSE(PathExists(WorkDirectoryOf(Only(run))));
  ExpectNothingLeftBehind();
}

TEST_F(StubEndToEnd, StampedTagsAndSilentSuffixes) {
  struct {
    std::string tag;
    std::wstring switches_and_tag;
  } cases[] = {
      {"appguid={X}&appname=Test&needsadmin=false",
       L" /installsource taggedmi /install \"appguid={X}&appname=Test&needsadmin=false&referral=none\""},
      {"appguid={X}&appname=Test&SiLeNt", L" /silent /install \"appguid={X}&appname=Test&referral=none\""},
      {"&silent", L" /silent /install"},
      // A tag with a double quote is refused; the default tag stands in.
      {"appguid={X}&appname=\"Test\"",
       L" /installsource taggedmi /install \"" + Widen(kDefaultTag) + L"&referral=none\""},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::wstring stub =
        runner_.PrepareStub(L"tagged" + std::to_wstring(++n) + L"\\CorvaneUpdateSetup.exe",
                            nullptr, &c.tag);
    const StubRun run = runner_.Run(stub);
    EXPECT_EQ(run.exit_code, 0u) << c.tag;
    EXPECT_EQ(Only(run), Program(run) + c.switches_and_tag) << c.tag;
  }
  ExpectNothingLeftBehind();
}

TEST_F(StubEndToEnd, ParametersPassThroughUnchanged) {
  const std::string tag = "appguid={X}&silent";
  const std::wstring stub = runner_.PrepareStub(L"stub folder\\CorvaneUpdateSetup.exe", nullptr, &tag);
  struct {
    std::wstring arguments;
    std::wstring after_program;
  } cases[] = {
      {L"/install \"a b\" /x", L" /install \"a b\" /x \"appguid={X}&silent&referral=none\""},
      {L"/recover", L" /recover \"" + stub + L"\" \"appguid={X}&silent&referral=none\""},
      {L"/install /NOMITAG", L" /install"},
      {L"/nomitag /install", L" /nomitag /install \"appguid={X}&silent&referral=none\""},
  };
  for (const auto& c : cases) {
    const StubRun run = runner_.Run(stub, c.arguments);
    EXPECT_EQ(run.exit_code, 0u) << c.arguments;
    EXPECT_EQ(Only(run), Program(run) + c.after_program) << c.arguments;
  }
  ExpectNothingLeftBehind();
}

TEST_F(StubEndToEnd, ExitCodesOfTheChildBecomeTheStubs) {
  const std::wstring stub = runner_.PrepareStub(L"CorvaneUpdateSetup.exe");
  for (const wchar_t* code : {L"0", L"1", L"-5", L"0x80070005"}) {
    const StubRun run = runner_.Run(stub, L"", {{L"CORVANE_CHILD_EXIT_CODE", code}});
    const DWORD expected = code[0] == L'-' ? static_cast<DWORD>(wcstol(code, nullptr, 10))
                                           : wcstoul(code, nullptr, 0);
    EXPECT_EQ(run.exit_code, expected) << code;
  }
  ExpectNothingLeftBehind();
}

TEST_F(StubEndToEnd, KeepFilesCodeLeavesTheCopyAndTheTar) {
  const StubRun run = runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe"), L"",
                                  {{L"CORVANE_CHILD_EXIT_CODE", L"0x8004FFFF"}});
  ASSERT_EQ(run.exit_code, kKeepFiles);
  const std::wstring work_dir = WorkDirectoryOf(Only(run));
  EXPECT_TRUE(PathExists(work_dir + L"\\CorvaneUpdateSetup.exe"));
  EXPECT_FALSE(PathExists(work_dir + L"\\setup.exe"));
  EXPECT_FALSE(PathExists(work_dir + L"\\readme.txt"));

  // Exactly the work directory and one tar file are new; remove them.
  const std::wstring root = AdminWorkRoot();
  std::vector<std::wstring> added;
  for (const auto& name : WorkEntries(root)) {
    if (std::find(entries_before_.begin(), entries_before_.end(), name) == entries_before_.end()) {
      added.push_back(name);
    }
  }
  ASSERT_EQ(added.size(), 2u);
  for (const auto& name : added) {
    const std::wstring path = root + L"\\" + name;
    if (path == work_dir) {
      DeleteFileW((work_dir + L"\\CorvaneUpdateSetup.exe").c_str());
      EXPECT_TRUE(RemoveDirectoryW(path.c_str()));
    } else {
      EXPECT_EQ(name.substr(0, 3), L"PKT");
      EXPECT_TRUE(DeleteFileW(path.c_str()));
    }
  }
}

TEST_F(StubEndToEnd, FailedRunsStartNothingAndLeaveNothing) {
  std::vector<uint8_t> corrupt = MakePayload({{"setup.exe", runner_.child_program()}});
  for (size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 16 && i < corrupt.size(); ++i) {
    corrupt[i] ^= 0x5A;
  }
  struct {
    const char* what;
    std::vector<uint8_t> payload;
  } cases[] = {
      {"no .exe among the members", MakePayload({{"readme.txt", Text("hello")}, {"data.bin", Text("x")}})},
      {"corrupt payload", corrupt},
      {"truncated payload", std::vector<uint8_t>(corrupt.begin(), corrupt.begin() + 12)},
      // The third member's name is refused after two members were written.
      {"a member that cannot be extracted",
       MakePayload({{"readme.txt", Text("hello")}, {"setup.exe", runner_.child_program()},
                    {"nul.txt", Text("x")}})},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::wstring stub = runner_.PrepareStub(
        L"failing" + std::to_wstring(++n) + L"\\CorvaneUpdateSetup.exe", &c.payload);
    const StubRun run = runner_.Run(stub);
    EXPECT_EQ(run.exit_code, kRunFailed) << c.what;
    EXPECT_TRUE(run.child_command_lines.empty()) << c.what;
  }
  ExpectNothingLeftBehind();
}

TEST_F(StubEndToEnd, AChildThatCannotBeCreatedGivesTheSystemError) {
  const std::vector<uint8_t> payload = MakePayload({{"setup.exe", Text("not a program")}});
  const StubRun run = runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe", &payload));
  EXPECT_EQ(run.exit_code, static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  ExpectNothingLeftBehind();
}

TEST_F(StubEndToEnd, TwoStubsAtTheSameMomentWorkApart) {
  const std::wstring first = runner_.PrepareStub(L"one\\CorvaneUpdateSetup.exe");
  const std::wstring second = runner_.PrepareStub(L"two\\CorvaneUpdateSetup.exe");
  // The children wait, so both stubs are unpacked and running at once.
  const std::vector<StubRun> runs =
      runner_.RunTogether({first, second}, {{L"CORVANE_CHILD_SLEEP_MS", L"1500"}});
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].exit_code, 0u);
  EXPECT_EQ(runs[1].exit_code, 0u);
  EXPECT_NE(WorkDirectoryOf(Only(runs[0])), WorkDirectoryOf(Only(runs[1])));
  ExpectNothingLeftBehind();
}

TEST_F(StubEndToEnd, ReferralCodeFromTheStubsFileName) {
  struct {
    const wchar_t* name;
    const wchar_t* referral;
  } cases[] = {
      {L"CorvaneUpdateSetup-acs219.exe", L"ACS219"},
      {L"CorvaneUpdateSetup-ACS219 (2).exe", L"ACS219"},
      {L"CorvaneUpdateSetup-AEL001(1).exe", L"AEL001"},
      {L"CorvaneUpdateSetup-ZZZ999.exe", L"none"},  // the right shape, not a known code
      {L"CorvaneUpdateSetup-acs219-1.exe", L"none"},
  };
  for (const auto& c : cases) {
    const StubRun run = runner_.Run(runner_.PrepareStub(std::wstring(L"named\\") + c.name));
    EXPECT_EQ(run.exit_code, 0u) << c.name;
    const std::wstring line = Only(run);
    const std::wstring suffix = std::wstring(L"&referral=") + c.referral + L"\"";
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), suffix.size())), suffix) << c.name;
  }
  ExpectNothingLeftBehind();
}

TEST_F(StubEndToEnd, ThePromoPathIsRecordedOnlyWithoutParameters) {
  const wchar_t* key = L"Software\\CorvaneSoftware\\Promo";
  RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"StubInstallerPath");
  const std::wstring stub = runner_.PrepareStub(L"promo dir\\CorvaneUpdateSetup.exe");

  EXPECT_EQ(runner_.Run(stub, L"/install").exit_code, 0u);
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof(value);
  EXPECT_NE(RegGetValueW(HKEY_CURRENT_USER, key, L"StubInstallerPath", RRF_RT_REG_SZ, nullptr,
                         value, &size),
            ERROR_SUCCESS);

  EXPECT_EQ(runner_.Run(stub).exit_code, 0u);
  size = sizeof(value);
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key, L"StubInstallerPath", RRF_RT_REG_SZ, nullptr,
                         value, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, stub.c_str());
  EXPECT_EQ(size, (stub.size() + 1) * sizeof(wchar_t));
}

TEST_F(StubEndToEnd, TheFirstLineReachesTheDebuggerOutput) {
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.ok());
  const std::wstring stub = runner_.PrepareStub(L"CorvaneUpdateSetup.exe");
  EXPECT_EQ(runner_.Run(stub, L"/install \"a b\"").exit_code, 0u);
  EXPECT_EQ(runner_.Run(stub).exit_code, 0u);

  // "[MM/DD/YY hh:mm:ss.mmm] mi enter cmdline:<tail>\n", once per run.
  std::vector<std::string> entries;
  for (const auto& line : capture.Lines()) {
    const size_t at = line.text.find("] mi enter cmdline:");
    if (at == std::string::npos) continue;
    EXPECT_EQ(at, 22u) << line.text;
    EXPECT_EQ(line.text[0], '[') << line.text;
    entries.push_back(line.text.substr(at + 2));
  }
  EXPECT_EQ(entries, (std::vector<std::string>{"mi enter cmdline:/install \"a b\"\n",
                                               "mi enter cmdline:\n"}));
}

// Wine shows one program an older Windows when its AppDefaults say so.
class OlderWindows : public StubEndToEnd {
 protected:
  void SetVersion(const std::wstring& exe_name, const wchar_t* version) {
    key_ = L"Software\\Wine\\AppDefaults\\" + exe_name;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"Version", REG_SZ, version,
                              static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (!key_.empty()) RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
  }
  std::wstring key_;
};

TEST_F(OlderWindows, Windows2000BeforeServicePack4IsRefusedBeforeAnythingIsWritten) {
  const wchar_t* promo_key = L"Software\\CorvaneSoftware\\Promo";
  RegDeleteKeyValueW(HKEY_CURRENT_USER, promo_key, L"StubInstallerPath");
  SetVersion(L"OldWindowsSetup.exe", L"nt40");
  const StubRun run = runner_.Run(runner_.PrepareStub(L"OldWindowsSetup.exe"));
  EXPECT_EQ(run.exit_code, 0x80040703u);
  EXPECT_TRUE(run.child_command_lines.empty());
  DWORD size = 0;
  EXPECT_NE(RegGetValueW(HKEY_CURRENT_USER, promo_key, L"StubInstallerPath", RRF_RT_REG_SZ,
                         nullptr, nullptr, &size),
            ERROR_SUCCESS);
  ExpectNothingLeftBehind();
}

TEST_F(OlderWindows, Windows2000WithServicePack4IsAccepted) {
  SetVersion(L"Win2kSetup.exe", L"win2k");
  const StubRun run = runner_.Run(runner_.PrepareStub(L"Win2kSetup.exe"));
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(run.child_command_lines.size(), 1u);
  ExpectNothingLeftBehind();
}

}  // namespace
}  // namespace vireo::test
