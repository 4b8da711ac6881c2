#include "base/logging/fatal_report.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/seh_guard.h"
#include "tests/base/debug_output_recorder.h"

namespace vireo {
namespace {

constexpr DWORD kBreakpoint = 0x80000003;
constexpr wchar_t kChildVariable[] = L"CORVANE_FATAL_REPORT_CHILD";

// The report box as the tests see it: the last text, caption, style and
// owner, and the answer to give.
struct ReportBox {
  int answer = IDIGNORE;
  int shown = 0;
  std::wstring text;
  std::wstring caption;
  UINT style = 0;
  HWND owner = reinterpret_cast<HWND>(1);
} box;

int WINAPI AnswerReportBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  ++box.shown;
  box.owner = owner;
  box.text = text;
  box.caption = caption;
  box.style = style;
  return box.answer;
}

class FatalReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box = ReportBox();
    SetReportBoxForTesting(&AnswerReportBox);
  }
  void TearDown() override { SetReportBoxForTesting(nullptr); }
};

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return L"<clipboard cannot be opened>";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* locked = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = locked;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

TEST_F(FatalReportTest, AFaultIsReportedInTheBoxAndOnTheClipboard) {
  int* volatile null_target = nullptr;
  const bool returned =
      Guarded([&] { *null_target = 1; },
              [](EXCEPTION_POINTERS* pointers) {
                return ReportLoggingException(pointers->ExceptionRecord->ExceptionCode, 567);
              });
  EXPECT_FALSE(returned);
  const std::wstring expected =
      L"Exception c0000005 in base_tests.exe  0\r\n\r\nbase\\logging:567\r\n";
  EXPECT_EQ(box.shown, 1);
  EXPECT_EQ(box.text, expected);
  EXPECT_EQ(box.caption, L"Exception");
  EXPECT_EQ(box.style, 0x00250012u);
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(ClipboardText(), expected);
}

TEST_F(FatalReportTest, IgnoreAndABoxThatFailedBothHandleTheFault) {
  for (const int answer : {IDIGNORE, 0}) {
    SCOPED_TRACE(answer);
    box.answer = answer;
    EXPECT_EQ(ReportLoggingException(0xC000001D, 880), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(box.text, L"Exception c000001d in base_tests.exe  0\r\n\r\nbase\\logging:880\r\n");
  }
}

TEST_F(FatalReportTest, BreakpointsAreNeitherReportedNorHandled) {
  EXPECT_EQ(ReportLoggingException(kBreakpoint, 567), EXCEPTION_CONTINUE_SEARCH);
  EXPECT_EQ(box.shown, 0);

  // Raised inside a guard that reports: it passes to the guard outside.
  bool inner = true;
  DWORD outer_code = 0;
  EXPECT_FALSE(Guarded(
      [&] {
        inner =
            Guarded([] { DebugBreak(); },
                    [](EXCEPTION_POINTERS* pointers) {
                      return ReportLoggingException(pointers->ExceptionRecord->ExceptionCode, 567);
                    });
      },
      [&](EXCEPTION_POINTERS* pointers) -> LONG {
        outer_code = pointers->ExceptionRecord->ExceptionCode;
        return EXCEPTION_EXECUTE_HANDLER;
      }));
  EXPECT_EQ(outer_code, kBreakpoint);
  EXPECT_EQ(box.shown, 0);
}

TEST_F(FatalReportTest, RetryRaisesABreakpointFromTheFilter) {
  box.answer = IDRETRY;
  DWORD caught = 0;
  // Without a debugger something must take the breakpoint; here a guard does.
  EXPECT_FALSE(Guarded([] { ReportLoggingException(0xC0000005, 567); },
                       [&](EXCEPTION_POINTERS* pointers) -> LONG {
                         caught = pointers->ExceptionRecord->ExceptionCode;
                         return EXCEPTION_EXECUTE_HANDLER;
                       }));
  EXPECT_EQ(box.shown, 1);
  EXPECT_EQ(caught, kBreakpoint);
}

// Runs in a child process (see AbortEndsTheProcess): answers Abort.
TEST_F(FatalReportTest, ChildAnswersAbort) {
  if (!GetEnvironmentVariableW(kChildVariable, nullptr, 0)) GTEST_SKIP() << "only as a child";
  box.answer = IDABORT;
  ReportLoggingException(0xC0000005, 567);
  ADD_FAILURE() << "Abort returned";
}

TEST_F(FatalReportTest, AbortEndsTheProcess) {
  if (GetEnvironmentVariableW(kChildVariable, nullptr, 0)) GTEST_SKIP() << "the child itself";
  wchar_t program[MAX_PATH];
  ASSERT_NE(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
  std::wstring command_line =
      L"\"" + std::wstring(program) + L"\" --gtest_filter=FatalReportTest.ChildAnswersAbort";
  SetEnvironmentVariableW(kChildVariable, L"1");
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // Detached, so that the child's test output stays out of ours.
  const BOOL created = CreateProcessW(program, &command_line[0], nullptr, nullptr, FALSE,
                                      DETACHED_PROCESS, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(kChildVariable, nullptr);
  ASSERT_TRUE(created) << GetLastError();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exit_code, 0xFFFFFFFFu);
}

TEST(SehSendMinidump, MarksTheFaultUnlessABreakpointOrADebuggerIsInvolved) {
  test::DebugOutputRecorder recorder;
  EXPECT_EQ(SehSendMinidump(kBreakpoint, nullptr), EXCEPTION_CONTINUE_SEARCH);
  EXPECT_TRUE(recorder.lines().empty());

  EXPECT_EQ(SehSendMinidump(0xC0000005, nullptr), EXCEPTION_EXECUTE_HANDLER);
  EXPECT_TRUE(recorder.Contains("**SehSendMinidump**\r\n"));
}

TEST(SehSendMinidump, LeavesTheFaultToAnAttachedDebugger) {
  // IsDebuggerPresent reads the process's "being debugged" flag; setting it
  // is the only way to have a debugger without attaching one.
  BYTE* peb;
  __asm__ volatile("movl %%fs:0x30, %0" : "=r"(peb));
  BYTE& being_debugged = peb[2];
  being_debugged = 1;
  const bool present = IsDebuggerPresent();
  const LONG decision = SehSendMinidump(0xC0000005, nullptr);
  being_debugged = 0;
  ASSERT_TRUE(present);
  EXPECT_EQ(decision, EXCEPTION_CONTINUE_SEARCH);
}

TEST(CopyTextToClipboard, PutsUnicodeTextOnTheClipboard) {
  CopyTextToClipboard(L"first");
  const std::wstring text = L"Ünïcødé \x4E2D\x6587 line\r\nnext";
  CopyTextToClipboard(text.c_str());
  EXPECT_EQ(ClipboardText(), text);
  CopyTextToClipboard(L"");
  EXPECT_EQ(ClipboardText(), L"");
}

TEST(ScratchFormat, FormatsIntoThreeRotatingBuffers) {
  const wchar_t* first = ScratchFormat(L"%s %d", L"one", 1);
  const wchar_t* second = ScratchFormat(L"%s %d", L"two", 2);
  const wchar_t* third = ScratchFormat(L"%s %d", L"three", 3);
  EXPECT_NE(first, second);
  EXPECT_NE(second, third);
  EXPECT_NE(first, third);
  EXPECT_STREQ(first, L"one 1");
  EXPECT_STREQ(second, L"two 2");
  EXPECT_STREQ(third, L"three 3");
  const wchar_t* fourth = ScratchFormat(L"%S", "four");
  EXPECT_EQ(fourth, first);
  EXPECT_STREQ(fourth, L"four");
  EXPECT_STREQ(second, L"two 2");
}

TEST(ScratchFormat, CutsLongLinesWhereThePlatformFormatterStops) {
  const std::wstring long_text(3000, L'z');
  const std::wstring text = ScratchFormat(L"%s", long_text.c_str());
  // 1,024 characters on Windows; Wine keeps one for the terminator.
  EXPECT_GE(text.size(), 1023u);
  EXPECT_LE(text.size(), 1024u);
  EXPECT_EQ(text.find_first_not_of(L'z'), std::wstring::npos);
}

DWORD WINAPI FormatFiveOnAThread(void*) {
  return wcscmp(ScratchFormat(L"%d", 5), L"5") == 0 ? 0 : 1;
}

TEST(ScratchFormat, AFaultWhileFormattingGivesSprintfFailure) {
  const auto* bad = reinterpret_cast<const wchar_t*>(16);
  EXPECT_STREQ(ScratchFormat(L"%s", bad), L"sprintf failure");
  // The lock was released: another thread formats at once.
  HANDLE thread = CreateThread(nullptr, 0, &FormatFiveOnAThread, nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD exit_code = 1;
  GetExitCodeThread(thread, &exit_code);
  CloseHandle(thread);
  EXPECT_EQ(exit_code, 0u);
}

TEST(ScratchFormat, AllocatesAgainAfterTheBuffersWereReleased) {
  ScratchFormat(L"before");
  ReleaseScratchFormatBuffers();
  ReleaseScratchFormatBuffers();
  EXPECT_STREQ(ScratchFormat(L"after %d", 2), L"after 2");
}

}  // namespace
}  // namespace vireo
