// The logging core: the per-call gate, formatting and prefix, dispatch in
// attach order, the writer list, the lock's timed tries, enable and disable,
// and the guarded sections with their recovery.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "logging/debug_out_log_writer.h"
#include "logging/etw_log_writer.h"
#include "logging/exception_filters.h"
#include "logging/file_log_writer.h"
#include "logging/log_interface.h"
#include "logging/seh_guard.h"
#include "tests/logging/logging_test_support.h"
#include "tests/support/scratch_folder.h"

namespace vireo {
namespace {

using test::DebugOutputExceptions;
using test::FakeClock;
using test::LocalLogging;
using test::RecordingWriter;
using test::ScratchFolder;

// A Logging object under the defaults (no ini file), its writers configured,
// and recording writers attached after the built-in ones.
class LoggingCore : public ::testing::Test {
 protected:
  void WriteIni(const std::string& text) { test::WriteText(drive_.Child(L"CorvaneUpdate.ini"), text); }
  void Start() {
    logging_.emplace(drive_.path());
    (*logging_)->GetWriterMask(LC_CORE, 2);
  }
  Logging& logging() { return **logging_; }
  void Log(LogCategory category, LogLevel level, const wchar_t* format, const wchar_t* value = L"") {
    logging_->Log(category, level, format, value);
  }

  ScratchFolder drive_;
  std::optional<LocalLogging> logging_;
};

TEST_F(LoggingCore, FirstGateConfiguresEtwThenDebugOutput) {
  logging_.emplace(drive_.path());
  EXPECT_EQ(logging().writer_count(), 0);
  DebugOutputExceptions output;
  logging().GetWriterMask(LC_CORE, 2);
  EXPECT_TRUE(logging().initialized());
  ASSERT_EQ(logging().writer_count(), 2);
  EXPECT_EQ(logging().writer(0), static_cast<LogWriter*>(logging().etw_writer()));
  EXPECT_EQ(logging().writer(1), static_cast<LogWriter*>(logging().debug_out_writer()));
  EXPECT_EQ(logging().file_writer(), nullptr);
  EXPECT_EQ(output.Count("InternalInitialize"), 1);
  EXPECT_EQ(output.Count("] ConfigureFileLogWriter\n"), 1);

  // Initialised: later gates neither initialise nor re-read within 5 s.
  FakeClock clock;
  logging().GetWriterMask(LC_CORE, 2);
  EXPECT_EQ(output.Count("InternalInitialize"), 1);
}

TEST_F(LoggingCore, FileWriterIsAttachedBetweenEtwAndDebugOutput) {
  test::ScopedProductLogFile log;
  ASSERT_TRUE(log.removed()) << "another program holds the product's log file open";
  WriteIni("[LoggingSettings]\r\nLogToFile=1\r\nAppendToFile=0\r\n");
  DebugOutputExceptions output;
  Start();
  ASSERT_EQ(logging().writer_count(), 3);
  EXPECT_EQ(logging().writer(0), static_cast<LogWriter*>(logging().etw_writer()));
  EXPECT_EQ(logging().writer(1), static_cast<LogWriter*>(logging().file_writer()));
  EXPECT_EQ(logging().writer(2), static_cast<LogWriter*>(logging().debug_out_writer()));
  EXPECT_FALSE(logging().file_writer()->append());
  EXPECT_TRUE(output.Contains("] file log path:" + test::Narrow(log.path()) + "\n"));

  Log(LC_CORE, LL_ERROR, L"to the file");
  logging_.reset();  // closes the file
  const auto lines = test::ReadLogLines(log.path());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 11), L"to the file");
}

TEST_F(LoggingCore, WithoutDebugOutputOnlyTheEtwWriterIsAttached) {
  WriteIni("[LoggingSettings]\r\nLogToOutputDebug=0\r\n");
  Start();
  ASSERT_EQ(logging().writer_count(), 1);
  EXPECT_EQ(logging().writer(0), static_cast<LogWriter*>(logging().etw_writer()));
  EXPECT_EQ(logging().debug_out_writer(), nullptr);
}

struct MaskCase {
  const char* name;
  LogCategory category;
  LogLevel level;
  bool first_wants;
  bool second_wants;
  uint32_t expected;
};

// Writers 0 and 1 are the built-in ETW and debug-output writers (neither asks
// for lines on its own here); 2 and 3 are the recorders.
const MaskCase kMaskCases[] = {
    {"category table hit gives every bit", LC_CORE, LL_ERROR, false, false, 0xFFFFFFFFu},
    {"level equal to the configured one passes", LC_CORE, 1, false, false, 0xFFFFFFFFu},
    {"level above it asks the writers, none wants", LC_CORE, 2, false, false, 0u},
    {"level above it, writer 2 wants", LC_UTIL, 2, true, false, 0x4u},
    {"level above it, writer 3 wants", LC_UTIL, 5, false, true, 0x8u},
    {"level above it, both want", LC_UTIL, 2, true, true, 0xCu},
    {"LC_ALWAYS passes every level up to 7", LC_ALWAYS, LL_ALL, false, false, 0xFFFFFFFFu},
    {"LC_ALWAYS above 7", LC_ALWAYS, 8, false, false, 0u},
    {"category 10 gets nothing", static_cast<LogCategory>(10), LL_ERROR, true, true, 0u},
    {"negative category gets nothing", static_cast<LogCategory>(-1), LL_ERROR, true, true, 0u},
};

TEST_F(LoggingCore, WriterMask) {
  Start();
  RecordingWriter second;
  RecordingWriter third;
  ASSERT_TRUE(logging().AttachWriter(&second));
  ASSERT_TRUE(logging().AttachWriter(&third));
  for (const auto& one : kMaskCases) {
    second.wants_ = [&](LogCategory, LogLevel) { return one.first_wants; };
    third.wants_ = [&](LogCategory, LogLevel) { return one.second_wants; };
    EXPECT_EQ(logging().GetWriterMask(one.category, one.level), one.expected) << one.name;
  }
}

TEST_F(LoggingCore, DisabledCategoryReachesOnlyWritersThatAskForIt) {
  WriteIni("[LoggingLevel]\r\nLC_CORE=0\r\nLC_UTIL=-1\r\n");
  Start();
  RecordingWriter recorder;
  recorder.wants_ = [](LogCategory category, LogLevel) { return category == LC_CORE; };
  ASSERT_TRUE(logging().AttachWriter(&recorder));
  EXPECT_EQ(logging().GetWriterMask(LC_CORE, LL_ERROR), 0x4u);
  EXPECT_EQ(logging().GetWriterMask(LC_UTIL, LL_WARNING), 0xFFFFFFFFu);
  EXPECT_EQ(logging().GetWriterMask(LC_UTIL, 1), 0u);
}

TEST_F(LoggingCore, RecordsReachWritersInAttachOrder) {
  Start();
  std::vector<std::string> order;
  RecordingWriter first(&order, "first");
  RecordingWriter second(&order, "second");
  ASSERT_TRUE(logging().AttachWriter(&first));
  ASSERT_TRUE(logging().AttachWriter(&second));
  Log(LC_CORE, LL_ERROR, L"error %s", L"one");
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
  ASSERT_EQ(first.entries().size(), 1u);
  EXPECT_EQ(first.entries()[0].message, L"error one");
  EXPECT_EQ(first.entries()[0].category, LC_CORE);
  EXPECT_EQ(first.entries()[0].level, LL_ERROR);
}

TEST_F(LoggingCore, PrefixWithAndWithoutTime) {
  const std::string ids = "\\[" + std::to_string(GetCurrentProcessId()) + ":" +
                          std::to_string(GetCurrentThreadId()) + "\\]";
  for (bool show_time : {true, false}) {
    WriteIni(std::string("[LoggingSettings]\r\nShowTime=") + (show_time ? "1" : "0") + "\r\n");
    Start();
    RecordingWriter recorder;
    ASSERT_TRUE(logging().AttachWriter(&recorder));
    Log(LC_CORE, LL_ERROR, L"m");
    ASSERT_EQ(recorder.entries().size(), 1u);
    const std::regex expected(
        (show_time ? std::string(R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d\d\])") : std::string()) +
        "\\[logging_tests\\]" + ids);
    EXPECT_TRUE(std::regex_match(test::Narrow(recorder.entries()[0].prefix), expected))
        << test::Narrow(recorder.entries()[0].prefix);
    logging_.reset();
  }
}

TEST_F(LoggingCore, MessagesGrowTheirBufferAndTheLongestIsCut) {
  Start();
  RecordingWriter recorder;
  ASSERT_TRUE(logging().AttachWriter(&recorder));
  for (size_t length : {0u, 511u, 512u, 600u, 70000u, 1048575u, 1048576u, 1500000u}) {
    const std::wstring text(length, L'm');
    Log(LC_CORE, LL_ERROR, L"%s", text.c_str());
    ASSERT_FALSE(recorder.entries().empty());
    EXPECT_EQ(recorder.entries().back().message.size(), std::min<size_t>(length, 1048575u))
        << length;
  }
}

// Mask 0: a line above level 2 is dropped before anything is formatted, one of
// level 2 or more severe is formatted but reaches no writer. A value that
// faults when formatted shows which: the quiet filter marks the fault.
TEST_F(LoggingCore, MaskZeroFormatsOnlyLevelTwoAndMoreSevere) {
  Start();
  const wchar_t* faulting = reinterpret_cast<const wchar_t*>(16);
  DebugOutputExceptions output;
  logging().LogMessageV(0, LC_CORE, 5, L"%s", reinterpret_cast<va_list>(&faulting));
  EXPECT_FALSE(output.Contains("Unexpected exception"));

  logging().LogMessageV(0, LC_CORE, 2, L"fault %s", reinterpret_cast<va_list>(&faulting));
  EXPECT_TRUE(output.Contains("**SehSendMinidump**"));
  const auto& texts = output.texts();
  const auto at = std::find(texts.begin(), texts.end(),
                            "Unexpected exception in: vireo::Logging::InternalLogMessageMaskedVA\r\n");
  ASSERT_NE(at, texts.end());
  ASSERT_GE(texts.end() - at, 3);
  EXPECT_EQ(at[1], "fault %s");
  EXPECT_EQ(at[2], "\n\r");

  // The lock was released: the next line goes through.
  RecordingWriter recorder;
  ASSERT_TRUE(logging().AttachWriter(&recorder));
  Log(LC_CORE, LL_ERROR, L"after");
  EXPECT_EQ(recorder.messages(), std::vector<std::wstring>{L"after"});
}

TEST_F(LoggingCore, NullFormatIsIgnored) {
  Start();
  RecordingWriter recorder;
  ASSERT_TRUE(logging().AttachWriter(&recorder));
  logging().LogMessageV(0xFFFFFFFFu, LC_CORE, LL_ERROR, nullptr, nullptr);
  EXPECT_TRUE(recorder.entries().empty());
}

// A thread holds the lock (inside a writer) for longer than the twenty tries:
// the line is dropped with the lock note on the debugger output.
TEST_F(LoggingCore, LineIsDroppedWhenTheLockStaysTaken) {
  Start();
  HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  RecordingWriter blocker;
  blocker.on_write_ = [&](const LogRecord& record) {
    if (std::wstring(record.message) == L"hold") {
      SetEvent(entered);
      WaitForSingleObject(release, 30000);
    }
  };
  ASSERT_TRUE(logging().AttachWriter(&blocker));
  std::thread holder([&] { Log(LC_CORE, LL_ERROR, L"hold"); });
  ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);

  DebugOutputExceptions output;
  Log(LC_CORE, LL_ERROR, L"dropped %s", L"value");
  SetEvent(release);
  holder.join();

  const auto& texts = output.texts();
  const auto at = std::find(texts.begin(), texts.end(), "LOG_SYSTEM: Couldn't acquire lock - ");
  ASSERT_NE(at, texts.end());
  ASSERT_GE(texts.end() - at, 3);
  EXPECT_EQ(at[1], "dropped %s");
  EXPECT_EQ(at[2], "\n\r");
  EXPECT_EQ(blocker.messages(), std::vector<std::wstring>{L"hold"});
  CloseHandle(entered);
  CloseHandle(release);
}

// The lock is re-entrant: a writer that logs while it writes re-enters the
// message path on the same thread.
TEST_F(LoggingCore, WriterMayLogWhileItWrites) {
  Start();
  RecordingWriter recorder;
  recorder.on_write_ = [&](const LogRecord& record) {
    if (std::wstring(record.message) == L"outer") Log(LC_CORE, LL_ERROR, L"inner");
  };
  ASSERT_TRUE(logging().AttachWriter(&recorder));
  Log(LC_CORE, LL_ERROR, L"outer");
  EXPECT_EQ(recorder.messages(), (std::vector<std::wstring>{L"inner", L"outer"}));
}

TEST_F(LoggingCore, WriterList) {
  Start();
  ASSERT_EQ(logging().writer_count(), 2);
  std::vector<RecordingWriter> writers(14);
  for (int i = 0; i < 13; ++i) EXPECT_TRUE(logging().AttachWriter(&writers[i]));
  EXPECT_EQ(logging().writer_count(), 15);
  EXPECT_FALSE(logging().AttachWriter(&writers[13]));
  EXPECT_EQ(logging().writer_count(), 15);
  // Attached once only, whatever happens to be attached again.
  EXPECT_TRUE(logging().AttachWriter(&writers[0]));
  EXPECT_EQ(logging().writer_count(), 15);
  EXPECT_FALSE(logging().AttachWriter(nullptr));

  // The last entry moves into the freed place.
  EXPECT_TRUE(logging().DetachWriter(&writers[0]));
  EXPECT_EQ(logging().writer_count(), 14);
  EXPECT_EQ(logging().writer(2), &writers[12]);
  EXPECT_FALSE(logging().DetachWriter(&writers[0]));
  for (int i = 1; i < 13; ++i) EXPECT_TRUE(logging().DetachWriter(&writers[i]));
  EXPECT_EQ(logging().writer_count(), 2);
}

// EnableLogging=0 set while the program runs stops lines within five seconds
// and leaves the writers attached; 1 again resumes with the same writers.
TEST_F(LoggingCore, EnableLoggingTogglesAtTheRereadWithTheSameWriters) {
  FakeClock clock;
  Start();
  RecordingWriter recorder;
  ASSERT_TRUE(logging().AttachWriter(&recorder));
  Log(LC_CORE, LL_ERROR, L"one");

  WriteIni("[LoggingSettings]\r\nEnableLogging=0\r\n");
  Log(LC_CORE, LL_ERROR, L"still on");
  clock.PassRereadInterval();
  Log(LC_CORE, LL_ERROR, L"off");
  EXPECT_FALSE(logging().enabled());
  EXPECT_EQ(logging().writer_count(), 3);

  WriteIni("[LoggingSettings]\r\nEnableLogging=1\r\nLogToFile=1\r\n");
  clock.PassRereadInterval();
  Log(LC_CORE, LL_ERROR, L"on again");
  EXPECT_EQ(logging().writer_count(), 3);
  // LogToFile only counts when the writers are configured.
  EXPECT_EQ(logging().file_writer(), nullptr);
  EXPECT_EQ(recorder.messages(), (std::vector<std::wstring>{L"one", L"still on", L"on again"}));
}

TEST_F(LoggingCore, DisableAndEnableDetachAndAttachTheBuiltInWriters) {
  Start();
  RecordingWriter recorder;
  ASSERT_TRUE(logging().AttachWriter(&recorder));
  logging().DisableLogging();
  EXPECT_FALSE(logging().enabled());
  ASSERT_EQ(logging().writer_count(), 1);
  EXPECT_EQ(logging().writer(0), &recorder);
  // Disabled: nothing is dispatched, unless a writer writes when disabled.
  recorder.writes_when_disabled_ = true;
  logging().LogMessageV(1, LC_CORE, LL_ERROR, L"while disabled", nullptr);
  EXPECT_EQ(recorder.messages(), std::vector<std::wstring>{L"while disabled"});
  recorder.writes_when_disabled_ = false;
  logging().LogMessageV(1, LC_CORE, LL_ERROR, L"not written", nullptr);
  EXPECT_EQ(recorder.messages().size(), 1u);

  EtwLogWriter* etw = logging().etw_writer();
  logging().EnableLogging();
  EXPECT_TRUE(logging().enabled());
  ASSERT_EQ(logging().writer_count(), 3);
  EXPECT_EQ(logging().writer(1), static_cast<LogWriter*>(etw));
  EXPECT_EQ(logging().etw_writer(), etw);
}

ULONG WINAPI UnregisterQuietly(TRACEHANDLE) { return 0; }

ULONG WINAPI UnregisterFaulting(TRACEHANDLE) {
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  return 0;
}

// The trace registration is the one platform call that a test can make fault
// or re-enter from inside the writer configuration.
class FaultingRegistration {
 public:
  explicit FaultingRegistration(decltype(&::RegisterTraceGuidsW) register_trace_guids) {
    api_ = CurrentEtwTraceApi();
    api_.register_trace_guids = register_trace_guids;
    api_.unregister_trace_guids = &UnregisterQuietly;
    SetEtwTraceApiForTesting(&api_);
  }
  ~FaultingRegistration() { SetEtwTraceApiForTesting(nullptr); }

 private:
  EtwTraceApi api_;
};

ULONG WINAPI RegisterFaulting(WMIDPREQUEST, PVOID, LPCGUID, ULONG, PTRACE_GUID_REGISTRATION,
                              LPCWSTR, LPCWSTR, PTRACEHANDLE) {
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  return 0;
}

// Answers the report box, keeping the text it was shown.
struct ReportBox {
  explicit ReportBox(int answer) {
    ReportBox::answer = answer;
    texts.clear();
    SetReportBoxForTesting(&Answer);
  }
  ~ReportBox() { SetReportBoxForTesting(nullptr); }
  static int WINAPI Answer(HWND, LPCWSTR text, LPCWSTR, UINT) {
    texts.push_back(text);
    return answer;
  }
  static inline int answer = IDIGNORE;
  static inline std::vector<std::wstring> texts;
};

bool ShowsLine(const std::wstring& report, int line) {
  return report.find(L"base\\logging:" + std::to_wstring(line) + L"\r\n") != std::wstring::npos &&
         report.rfind(L"Exception c0000005 in logging_tests.exe  0\r\n\r\n", 0) == 0;
}

TEST_F(LoggingCore, FaultInInitialisationIsReportedAndTheNextCallTriesAgain) {
  logging_.emplace(drive_.path());
  {
    FaultingRegistration faulting(&RegisterFaulting);
    ReportBox box(IDIGNORE);
    DebugOutputExceptions output;
    EXPECT_EQ(logging().GetWriterMask(LC_CORE, LL_ERROR), 0u);
    ASSERT_EQ(ReportBox::texts.size(), 1u);
    EXPECT_TRUE(ShowsLine(ReportBox::texts[0], 518)) << test::Narrow(ReportBox::texts[0]);
    EXPECT_TRUE(output.Contains("Unexpected exception in: vireo::Logging::InternalInitialize\r\n"));
    EXPECT_FALSE(logging().initialized());
  }
  // Without the fault the next call configures the writers: the flag of the
  // interrupted set-up does not stay behind.
  EXPECT_EQ(logging().GetWriterMask(LC_CORE, LL_ERROR), 0xFFFFFFFFu);
  EXPECT_TRUE(logging().initialized());
  EXPECT_EQ(logging().writer_count(), 2);
}

TEST_F(LoggingCore, FaultInEnableLoggingIsReportedAndLeavesItOff) {
  WriteIni("[LoggingSettings]\r\nEnableLogging=0\r\n");
  logging_.emplace(drive_.path());
  FaultingRegistration faulting(&RegisterFaulting);
  ReportBox box(IDIGNORE);
  DebugOutputExceptions output;
  logging().EnableLogging();
  ASSERT_EQ(ReportBox::texts.size(), 1u);
  EXPECT_TRUE(ShowsLine(ReportBox::texts[0], 567)) << test::Narrow(ReportBox::texts[0]);
  EXPECT_TRUE(output.Contains("Unexpected exception in: vireo::Logging::EnableLogging\r\n"));
  EXPECT_FALSE(logging().enabled());
  // The lock was released: another thread can log.
  std::thread([&] { logging().LogMessageV(0, LC_CORE, LL_ERROR, L"x", nullptr); }).join();
}

TEST_F(LoggingCore, FaultInOneWriterDoesNotKeepTheLineFromTheNext) {
  Start();
  RecordingWriter faulting;
  faulting.on_write_ = [](const LogRecord&) {
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  };
  RecordingWriter after;
  ASSERT_TRUE(logging().AttachWriter(&faulting));
  ASSERT_TRUE(logging().AttachWriter(&after));
  ReportBox box(IDIGNORE);
  Log(LC_CORE, LL_ERROR, L"line");
  ASSERT_EQ(ReportBox::texts.size(), 1u);
  EXPECT_TRUE(ShowsLine(ReportBox::texts[0], 880)) << test::Narrow(ReportBox::texts[0]);
  EXPECT_EQ(after.messages(), std::vector<std::wstring>{L"line"});
}

TEST_F(LoggingCore, BreakpointInAWriterIsNotReported) {
  Start();
  RecordingWriter breaking;
  breaking.on_write_ = [](const LogRecord&) { RaiseException(EXCEPTION_BREAKPOINT, 0, 0, nullptr); };
  ASSERT_TRUE(logging().AttachWriter(&breaking));
  ReportBox box(IDIGNORE);
  bool passed_on = false;
  // The guard passes the breakpoint on to the next handler out, here ours.
  Guarded(
      [&] { Log(LC_CORE, LL_ERROR, L"line"); },
      [&](EXCEPTION_POINTERS* pointers) -> LONG {
        passed_on = pointers->ExceptionRecord->ExceptionCode == EXCEPTION_BREAKPOINT;
        return EXCEPTION_EXECUTE_HANDLER;
      });
  EXPECT_TRUE(passed_on);
  EXPECT_TRUE(ReportBox::texts.empty());
}

TEST_F(LoggingCore, FaultWhileDeletingTheWritersStillShutsDown) {
  Start();
  RecordingWriter recorder;
  ASSERT_TRUE(logging().AttachWriter(&recorder));
  EtwTraceApi api = CurrentEtwTraceApi();
  api.unregister_trace_guids = &UnregisterFaulting;
  SetEtwTraceApiForTesting(&api);
  ReportBox box(IDIGNORE);
  DebugOutputExceptions output;
  Logging* raw = logging_->get();
  raw->~Logging();
  EXPECT_FALSE(logging_alive);
  EXPECT_FALSE(raw->initialized());
  SetEtwTraceApiForTesting(nullptr);
  ASSERT_EQ(ReportBox::texts.size(), 1u);
  EXPECT_TRUE(ShowsLine(ReportBox::texts[0], 275)) << test::Narrow(ReportBox::texts[0]);
  EXPECT_TRUE(output.Contains("Unexpected exception in: vireo::Logging::~Logging\r\n"));

  // After shutdown a call that still reaches the object gets mask 0 and the note.
  EXPECT_EQ(raw->GetWriterMask(LC_CORE, LL_ERROR), 0u);
  EXPECT_TRUE(output.Contains(
      "LOG_SYSTEM: [logging_tests]: ERROR - Calling the logging system after it has been shut "
      "down \n"));
  new (raw) Logging();  // so that the owner's destruction finds an object
  logging_alive = true;
}

// Writers that DisableLogging detached still hold their resources: the
// destruction deletes every writer the object made, once.
ULONG WINAPI RegisterWithHandle(WMIDPREQUEST, PVOID, LPCGUID, ULONG, PTRACE_GUID_REGISTRATION,
                                LPCWSTR, LPCWSTR, PTRACEHANDLE handle) {
  *handle = 0x4242;
  return 0;
}
std::vector<TRACEHANDLE> unregistered;
ULONG WINAPI RecordUnregister(TRACEHANDLE handle) {
  unregistered.push_back(handle);
  return 0;
}

TEST_F(LoggingCore, DetachedWritersAreDeletedOnceAtDestruction) {
  EtwTraceApi api = CurrentEtwTraceApi();
  api.register_trace_guids = &RegisterWithHandle;
  api.unregister_trace_guids = &RecordUnregister;
  SetEtwTraceApiForTesting(&api);
  unregistered.clear();
  Start();
  logging().DisableLogging();
  logging().EnableLogging();
  logging().DisableLogging();
  EXPECT_EQ(logging().writer_count(), 0);
  logging_.reset();
  SetEtwTraceApiForTesting(nullptr);
  EXPECT_EQ(std::count(unregistered.begin(), unregistered.end(), 0x4242u), 1);
}

// A logging call made on the same thread while the writers are being set up
// gets mask 0.
Logging* nested_logging = nullptr;
uint32_t nested_mask = 1;
ULONG WINAPI RegisterAndLog(WMIDPREQUEST, PVOID, LPCGUID, ULONG, PTRACE_GUID_REGISTRATION,
                            LPCWSTR, LPCWSTR, PTRACEHANDLE handle) {
  nested_mask = nested_logging->GetWriterMask(LC_CORE, LL_ERROR);
  *handle = 0;
  return 0;
}

TEST_F(LoggingCore, NestedCallDuringInitialisationGetsNoWriter) {
  logging_.emplace(drive_.path());
  nested_logging = logging_->get();
  {
    FaultingRegistration registration(&RegisterAndLog);
    EXPECT_EQ(logging().GetWriterMask(LC_CORE, LL_ERROR), 0xFFFFFFFFu);
    logging_.reset();
  }
  EXPECT_EQ(nested_mask, 0u);
}

}  // namespace
}  // namespace vireo
