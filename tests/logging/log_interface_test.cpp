// The call interface: the process-wide object's place in static
// initialisation, the call-site macro and DebugTrace.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <string>

#include "logging/log_interface.h"
#include "tests/logging/logging_test_support.h"
#include "tests/logging/static_order_probe.h"

namespace vireo {
namespace {

using test::DebugOutputExceptions;
using test::FakeClock;
using test::RecordingWriter;

// A static object of the program, constructed in the default order: the
// Logging object must already be alive when it runs.
// Its destructor runs before the Logging object's, so it can still log.
struct LogsFromItsConstructor {
  LogsFromItsConstructor() : saw_logging_alive(logging_alive) {
    VIREO_LOG(LC_CORE, LL_PROGRESS, L"static object constructed");
  }
  ~LogsFromItsConstructor() {
    if (GetEnvironmentVariableW(L"VIREO_TEST_LOG_AT_EXIT", nullptr, 0) > 0) {
      VIREO_LOG(LC_CORE, LL_ERROR, L"static object destroyed");
    }
  }
  bool saw_logging_alive;
};
LogsFromItsConstructor logs_from_its_constructor;

TEST(LogInterface, ProgramStaticObjectsFindLoggingAlive) {
  EXPECT_TRUE(logs_from_its_constructor.saw_logging_alive);
  EXPECT_TRUE(test::StaticOrderProbeSawLoggingAlive());
  EXPECT_TRUE(logging_alive);
}

TEST(LogInterfaceHelper, DISABLED_Exit) {}

// At exit, the program's static objects are destroyed while logging still
// works; the helper's last line reaches the debugger output.
TEST(LogInterface, LoggingOutlivesTheProgramsStaticObjects) {
  test::DebugOutput output;
  ASSERT_TRUE(output.ok());
  HANDLE helper = test::StartHelperProcess("LogInterfaceHelper.DISABLED_Exit",
                                           {{L"VIREO_TEST_LOG_AT_EXIT", L"1"}});
  const DWORD helper_id = GetProcessId(helper);
  EXPECT_EQ(test::FinishHelperProcess(helper), 0u);
  const std::string ids = "[logging_tests][" + std::to_string(helper_id) + ":";
  bool seen = false;
  for (int i = 0; i < 500 && !seen; ++i) {
    for (const auto& line : output.OtherProcessLines()) {
      seen |= line.find(ids) != std::string::npos &&
              line.size() > 24 && line.substr(line.size() - 24) == "static object destroyed\n";
    }
    if (!seen) Sleep(10);
  }
  EXPECT_TRUE(seen);
}

TEST(LogInterface, ProcessLabelIsTheProgramNameWithoutExtension) {
  EXPECT_EQ(std::wstring(g_logging.process_label().c_str()), L"logging_tests");
  EXPECT_EQ(std::wstring(ComputeProcessLabel().c_str()), L"logging_tests");
}

TEST(LogInterface, CategoryTableNamesTheNineConfigurableCategories) {
  const wchar_t* names[] = {L"LC_UTIL", L"LC_SETUP", L"LC_SHELL",   L"LC_CORE",  L"LC_JS",
                            L"LC_SERVICE", L"LC_OPT", L"LC_NET", L"LC_REPORT"};
  for (int i = 0; i < 9; ++i) {
    EXPECT_STREQ(kLogCategoryNames[i].name, names[i]);
    EXPECT_EQ(kLogCategoryNames[i].category, static_cast<LogCategory>(i + 1));
  }
}

// The macro computes the mask before it evaluates the values, and the mask may
// re-read the configuration (registry and ini calls): the caller's error must
// survive both the gate and the line.
TEST(LogInterface, CallSiteSeesAndKeepsTheCallersLastError) {
  FakeClock clock;
  RecordingWriter recorder;
  recorder.wants_ = [](LogCategory, LogLevel) { return true; };
  ASSERT_TRUE(g_logging.AttachWriter(&recorder));
  clock.PassRereadInterval();

  SetLastError(1234);
  VIREO_LOG(LC_CORE, LL_ERROR, L"step failed err:%d", GetLastError());
  EXPECT_EQ(GetLastError(), 1234u);
  g_logging.DetachWriter(&recorder);

  ASSERT_EQ(recorder.entries().size(), 1u);
  EXPECT_EQ(recorder.entries()[0].message, L"step failed err:1234");
}

TEST(LogInterface, SilentWhileLoggingIsNotAlive) {
  RecordingWriter recorder;
  recorder.wants_ = [](LogCategory, LogLevel) { return true; };
  ASSERT_TRUE(g_logging.AttachWriter(&recorder));
  int evaluated = 0;
  logging_alive = false;
  VIREO_LOG(LC_CORE, LL_ERROR, L"not logged %d", ++evaluated);
  logging_alive = true;
  g_logging.DetachWriter(&recorder);
  EXPECT_EQ(evaluated, 0);
  EXPECT_TRUE(recorder.entries().empty());
}

std::string TraceText(const DebugOutputExceptions& output) {
  return output.texts().empty() ? std::string() : output.texts().back();
}

TEST(DebugTrace, TimeStampBlankMessageAndLineFeed) {
  const std::regex stamp(R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d\d\] )");
  struct Case {
    std::string expected;
    std::function<void()> trace;
  } cases[] = {
      {"mi enter cmdline:\n", [] { DebugTrace(L"mi enter cmdline:%S", ""); }},
      {"mi enter cmdline:/install \"a b\"\n",
       [] { DebugTrace(L"mi enter cmdline:%S", "/install \"a b\""); }},
      {"file log path:C:\\x\n", [] { DebugTrace(L"file log path:%s", L"C:\\x"); }},
      {"n:-5 u:7\n", [] { DebugTrace(L"n:%d u:%u", -5, 7u); }},
  };
  for (const auto& one : cases) {
    DebugOutputExceptions output;
    one.trace();
    const std::string text = TraceText(output);
    ASSERT_GE(text.size(), 24u) << one.expected;
    EXPECT_TRUE(std::regex_match(text.substr(0, 24), stamp)) << text;
    EXPECT_EQ(text.substr(24), one.expected);
  }
}

// The line buffer holds 20,480 characters with the terminator: a longer line
// is cut so that it still ends in its line feed.
TEST(DebugTrace, TooLongMessageIsCutAndStillEndsTheLine) {
  for (size_t length : {20479u - 24u - 1u, 20479u - 24u, 30000u, 100000u}) {
    const std::wstring message(length, L'x');
    DebugOutputExceptions output;
    DebugTrace(L"%s", message.c_str());
    const std::string text = TraceText(output);
    const size_t expected = std::min<size_t>(24 + length + 1, 20479);
    ASSERT_EQ(text.size(), expected) << length;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find_first_not_of('x', 24), expected - 1);
  }
}

}  // namespace
}  // namespace vireo
