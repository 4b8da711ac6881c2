#include "logging/exception_filters.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "logging/seh_guard.h"
#include "tests/logging/clipboard_text.h"
#include "tests/logging/debug_output_recorder.h"

namespace vireo {
namespace {

using test::ClipboardText;

constexpr DWORD kBreakpoint = 0x80000003;
constexpr wchar_t kChildVariable[] = L"CORVANE_EXCEPTION_REPORT_CHILD";

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

class ReportLoggingExceptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box = ReportBox();
    SetReportBoxForTesting(&AnswerReportBox);
  }
  void TearDown() override { SetReportBoxForTesting(nullptr); }
};

TEST_F(ReportLoggingExceptionTest, AFaultIsReportedInTheBoxAndOnTheClipboard) {
  int* volatile null_target = nullptr;
  const bool returned =
      Guarded([&] { *null_target = 1; },
              [](EXCEPTION_POINTERS* pointers) {
                return ReportLoggingException(pointers->ExceptionRecord->ExceptionCode, 567);
              });
  EXPECT_FALSE(returned);
  const std::wstring expected =
      L"Exception c0000005 in logging_unit_tests.exe  0\r\n\r\nbase\\logging:567\r\n";
  EXPECT_EQ(box.shown, 1);
  EXPECT_EQ(box.text, expected);
  EXPECT_EQ(box.caption, L"Exception");
  EXPECT_EQ(box.style, 0x00250012u);
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(ClipboardText(), expected);
}

TEST_F(ReportLoggingExceptionTest, IgnoreAndABoxThatFailedBothHandleTheFault) {
  for (const int answer : {IDIGNORE, 0}) {
    SCOPED_TRACE(answer);
    box.answer = answer;
    EXPECT_EQ(ReportLoggingException(0xC000001D, 880), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(box.text,
              L"Exception c000001d in logging_unit_tests.exe  0\r\n\r\nbase\\logging:880\r\n");
  }
}

TEST_F(ReportLoggingExceptionTest, BreakpointsAreNeitherReportedNorHandled) {
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

TEST_F(ReportLoggingExceptionTest, RetryRaisesABreakpointFromTheFilter) {
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

// The child process of AbortEndsTheProcess, which alone runs it (disabled, so
// that no ordinary run takes it for a test of its own): answers Abort.
TEST_F(ReportLoggingExceptionTest, DISABLED_ChildAnswersAbort) {
  ASSERT_TRUE(GetEnvironmentVariableW(kChildVariable, nullptr, 0)) << "only as a child";
  box.answer = IDABORT;
  ReportLoggingException(0xC0000005, 567);
  ADD_FAILURE() << "Abort returned";
}

TEST_F(ReportLoggingExceptionTest, AbortEndsTheProcess) {
  wchar_t program[MAX_PATH];
  ASSERT_NE(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
  std::wstring command_line = L"\"" + std::wstring(program) +
                              L"\" --gtest_also_run_disabled_tests"
                              L" --gtest_filter=ReportLoggingExceptionTest.DISABLED_ChildAnswersAbort";
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
#if defined(__i386__)
  __asm__ volatile("movl %%fs:0x30, %0" : "=r"(peb));
#else
  __asm__ volatile("movq %%gs:0x60, %0" : "=r"(peb));
#endif
  BYTE& being_debugged = peb[2];
  being_debugged = 1;
  const bool present = IsDebuggerPresent();
  const LONG decision = SehSendMinidump(0xC0000005, nullptr);
  being_debugged = 0;
  ASSERT_TRUE(present);
  EXPECT_EQ(decision, EXCEPTION_CONTINUE_SEARCH);
}

}  // namespace
}  // namespace vireo
