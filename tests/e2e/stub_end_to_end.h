#pragma once
// The fixture of the end-to-end tests: a runner for copies of the real stub
// and a look at the work root before and after.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/stub_runner.h"

namespace vireo::test {

constexpr char kDefaultTag[] =
    "appguid={4E1B7C2A-93D5-4F0E-B6A8-2C71D9E05F34}&appname=Corvane-Release&needsadmin=prefers"
    "&ap=corvane";
constexpr DWORD kRunFailed = 0xFFFFFFFF;
constexpr DWORD kKeepFiles = 0x8004FFFF;

inline std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

inline std::vector<uint8_t> Text(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

class StubEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { entries_before_ = WorkEntries(AdminWorkRoot()); }

  // Every PKM/PKT entry the run made in the work root is gone again.
  void ExpectNothingLeftBehind() {
    std::vector<std::wstring> after = WorkEntries(AdminWorkRoot());
    std::vector<std::wstring> before = entries_before_;
    std::sort(after.begin(), after.end());
    std::sort(before.begin(), before.end());
    EXPECT_EQ(after, before);
  }

  // "Q(setup.exe) " for the one child of `run`, checked to be quoted exactly
  // when the path has a blank.
  static std::wstring Program(const StubRun& run) {
    if (run.child_command_lines.size() != 1) return L"<no single child>";
    const std::wstring directory = WorkDirectoryOf(run.child_command_lines[0]);
    const std::wstring program = directory + L"\\setup.exe";
    return program.find(L' ') == std::wstring::npos ? program : L"\"" + program + L"\"";
  }

  static std::wstring Only(const StubRun& run) {
    return run.child_command_lines.size() == 1 ? run.child_command_lines[0] : L"<no single child>";
  }

  StubRunner runner_;
  std::vector<std::wstring> entries_before_;
};

}  // namespace vireo::test
