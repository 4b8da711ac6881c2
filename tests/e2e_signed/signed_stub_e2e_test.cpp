// Stubs signed by osslsigncode and tagged by corvane-tag at build time, run
// under Wine: the tag inside a real Authenticode signature reaches the child,
// "&silent" selects a silent install, and the file name's referral code is
// appended to it, also for a stub downloaded from corvane-tag serve and for
// releases signed through a token.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/stub_runner.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"
#include "tests/support/wine_path.h"

namespace vireo::test {
namespace {

// As tagged by tests/e2e_signed/CMakeLists.txt.
constexpr wchar_t kTestTag[] =
    L"appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Test&needsadmin=false";
constexpr wchar_t kDefaultTag[] =
    L"appguid={4E1B7C2A-93D5-4F0E-B6A8-2C71D9E05F34}&appname=Corvane-Release&needsadmin=prefers"
    L"&ap=corvane";

class SignedStubEndToEnd : public ::testing::Test {
 protected:
  // A copy of the build's signed stub `artefact` named `name` in the runner's
  // folder, as a user's download would be.
  std::wstring Download(const wchar_t* artefact, const std::wstring& name) {
    const std::wstring from = PathFromEnvironment("CORVANE_SIGNED_STUBS") + L"\\" + artefact;
    const std::wstring to = runner_.folder() + L"\\" + name;
    EXPECT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << "cannot copy " << artefact;
    return to;
  }

  // The one child's command line with its program, quoted as the stub quotes
  // it, replaced by "setup.exe".
  static std::wstring ChildLine(const StubRun& run) {
    if (run.child_command_lines.size() != 1) return L"<no single child>";
    const std::wstring& line = run.child_command_lines[0];
    std::wstring program = WorkDirectoryOf(line) + L"\\setup.exe";
    if (program.find(L' ') != std::wstring::npos) program = L"\"" + program + L"\"";
    if (line.compare(0, program.size(), program) != 0) return L"<unexpected program> " + line;
    return L"setup.exe" + line.substr(program.size());
  }

  StubRunner runner_;
};

TEST_F(SignedStubEndToEnd, TheStampedTagReachesTheChild) {
  const StubRun run = runner_.Run(Download(L"tagged-plain.exe", L"CorvaneUpdateSetup.exe"));
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ChildLine(run), std::wstring(L"setup.exe /installsource taggedmi /install \"") +
                                kTestTag + L"&referral=none\"");
}

TEST_F(SignedStubEndToEnd, ASilentSuffixInAnyCaseMakesASilentInstall) {
  const StubRun run = runner_.Run(Download(L"tagged-silent.exe", L"CorvaneUpdateSetup.exe"));
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ChildLine(run),
            std::wstring(L"setup.exe /silent /install \"") + kTestTag + L"&referral=none\"");
}

TEST_F(SignedStubEndToEnd, ATagOfJustSilentLeavesNoTagParameter) {
  const StubRun run = runner_.Run(Download(L"tagged-only_silent.exe", L"CorvaneUpdateSetup.exe"));
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ChildLine(run), L"setup.exe /silent /install");
}

TEST_F(SignedStubEndToEnd, WithParametersTheSilentSuffixStaysInTheTag) {
  const StubRun run =
      runner_.Run(Download(L"tagged-silent.exe", L"CorvaneUpdateSetup.exe"), L"/install");
  EXPECT_EQ(ChildLine(run),
            std::wstring(L"setup.exe /install \"") + kTestTag + L"&SILENT&referral=none\"");
}

TEST_F(SignedStubEndToEnd, AReferralCodeInTheFileNameIsAppendedToTheTag) {
  const wchar_t* names[] = {
      L"CorvaneUpdateSetup-ACS219.exe",
      L"CorvaneUpdateSetup-acs219 (2).exe",  // a browser's second copy
      L"CorvaneUpdateSetup-ACS219(3).exe",
  };
  for (const wchar_t* name : names) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    const StubRun run = runner_.Run(Download(L"tagged-plain.exe", name));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(ChildLine(run), std::wstring(L"setup.exe /installsource taggedmi /install \"") +
                                  kTestTag + L"&referral=ACS219\"");
  }
}

TEST_F(SignedStubEndToEnd, SignedWithoutATagOrWithItClearedTheDefaultTagIsUsed) {
  for (const wchar_t* artefact : {L"signed.exe", L"cleared.exe"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(artefact)));
    const StubRun run = runner_.Run(Download(artefact, L"CorvaneUpdateSetup.exe"));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(ChildLine(run), std::wstring(L"setup.exe /installsource taggedmi /install \"") +
                                  kDefaultTag + L"&referral=none\"");
  }
}

// Downloaded by served_download.sh from corvane-tag serve under the referral
// name, and saved as the response's Content-Disposition names it.
using ServedStub = SignedStubEndToEnd;

TEST_F(ServedStub, TheReferralNameOfADownloadReachesTheChild) {
  const wchar_t kName[] = L"CorvaneUpdateSetup-ACS219.exe";
  const StubRun run = runner_.Run(Download((std::wstring(L"served\\") + kName).c_str(), kName));
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ChildLine(run), std::wstring(L"setup.exe /installsource taggedmi /install \"") +
                                kTestTag + L"&referral=ACS219\"");
}

// Signed through a key on a SoftHSM2 token by corvane-release, in one step
// and in two (token_release.sh), and tagged by it: the release of this
// build's processor (--arch x64 for the 64-bit tests).
using TokenSignedStub = SignedStubEndToEnd;

TEST_F(TokenSignedStub, TheTagOfATokenSignedReleaseReachesTheChild) {
#ifdef _WIN64
  constexpr uint16_t kMachine = kMachineAmd64;
#else
  constexpr uint16_t kMachine = kMachineI386;
#endif
  for (const wchar_t* artefact : {L"token\\token-one-step.exe", L"token\\token-two-step.exe"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(artefact)));
    const std::wstring stub = Download(artefact, L"CorvaneUpdateSetup.exe");
    const std::vector<uint8_t> image = ReadFileBytes(stub);
    EXPECT_EQ(ReadLe16(image, PeHeaderOffset(image) + kMachineField), kMachine);
    const StubRun run = runner_.Run(stub);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(ChildLine(run), std::wstring(L"setup.exe /installsource taggedmi /install \"") +
                                  kTestTag + L"&referral=none\"");
  }
}

}  // namespace
}  // namespace vireo::test
