// The ETW writer. Wine registers a provider but never enables it, so these
// tests stand in for the platform's trace calls and play the trace session
// through the control callback the writer registered, as the platform would.
#include <windows.h>

#include <evntrace.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "logging/etw_log_writer.h"
#include "logging/log_interface.h"
#include "tests/logging/logging_test_support.h"

namespace vireo {
namespace {

using test::RecordingWriter;

constexpr GUID kNullGuid = {};
constexpr TRACEHANDLE kRegistrationHandle = 0x0000000700000005ull;
constexpr TRACEHANDLE kLoggerHandle = 0x1122334455667788ull;
PVOID const kEnableBuffer = reinterpret_cast<PVOID>(0x5000);

struct TracedEvent {
  TRACEHANDLE logger;
  EVENT_TRACE_HEADER header;
  std::vector<MOF_FIELD> fields;
  std::vector<std::string> data;
};

// The platform side of one trace session.
struct FakeTrace {
  static inline WMIDPREQUEST callback = nullptr;
  static inline PVOID context = nullptr;
  static inline GUID control_guid = {};
  static inline ULONG guid_count = 0;
  static inline GUID class_guid = {};
  static inline bool class_handle_was_null = false;
  static inline bool mof_names_were_null = false;
  static inline int registrations = 0;
  static inline std::vector<TRACEHANDLE> unregistered;
  static inline PVOID enable_buffer = nullptr;
  static inline TRACEHANDLE logger = kLoggerHandle;
  static inline DWORD logger_error = 0;
  static inline ULONG flags = 0;
  static inline UCHAR level = 0;
  static inline std::vector<TracedEvent> events;

  static ULONG WINAPI Register(WMIDPREQUEST request, PVOID request_context, LPCGUID guid,
                              ULONG count, PTRACE_GUID_REGISTRATION registration,
                              LPCWSTR image_path, LPCWSTR resource_name, PTRACEHANDLE handle) {
    ++registrations;
    callback = request;
    context = request_context;
    control_guid = *guid;
    guid_count = count;
    class_guid = *registration->Guid;
    class_handle_was_null = registration->RegHandle == nullptr;
    mof_names_were_null = !image_path && !resource_name;
    *handle = kRegistrationHandle;
    return ERROR_SUCCESS;
  }
  static ULONG WINAPI Unregister(TRACEHANDLE handle) {
    unregistered.push_back(handle);
    return ERROR_SUCCESS;
  }
  static TRACEHANDLE WINAPI LoggerHandle(PVOID buffer) {
    enable_buffer = buffer;
    SetLastError(logger_error);
    return logger;
  }
  static ULONG WINAPI Flags(TRACEHANDLE) { return flags; }
  static UCHAR WINAPI Level(TRACEHANDLE) { return level; }
  static ULONG WINAPI Trace(TRACEHANDLE handle, PEVENT_TRACE_HEADER header) {
    TracedEvent event{handle, *header, {}, {}};
    const auto* fields = reinterpret_cast<const MOF_FIELD*>(header + 1);
    for (size_t i = 0; i < (header->Size - sizeof(EVENT_TRACE_HEADER)) / sizeof(MOF_FIELD); ++i) {
      event.fields.push_back(fields[i]);
      event.data.emplace_back(reinterpret_cast<const char*>(static_cast<ULONG_PTR>(fields[i].DataPtr)),
                              fields[i].Length);
    }
    events.push_back(event);
    return ERROR_SUCCESS;
  }

  static ULONG Request(WMIDPREQUESTCODE code) {
    ULONG size = 0;
    return callback(code, context, &size, kEnableBuffer);
  }
  static ULONG EnableSession(ULONG enable_flags, UCHAR enable_level) {
    flags = enable_flags;
    level = enable_level;
    return Request(WMI_ENABLE_EVENTS);
  }
};

const EtwTraceApi kFakeTraceApi = {&FakeTrace::Register,     &FakeTrace::Unregister,
                                   &FakeTrace::LoggerHandle, &FakeTrace::Flags,
                                   &FakeTrace::Level,        &FakeTrace::Trace};

USHORT WINAPI CaptureThreeFrames(ULONG skip, ULONG count, PVOID* frames, PULONG hash) {
  EXPECT_EQ(skip, 0u);
  EXPECT_EQ(count, 32u);
  EXPECT_EQ(hash, nullptr);
  for (int i = 0; i < 3; ++i) frames[i] = reinterpret_cast<PVOID>(0x401000 + i);
  return 3;
}

class EtwWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeTrace::callback = nullptr;
    FakeTrace::context = nullptr;
    FakeTrace::registrations = 0;
    FakeTrace::unregistered.clear();
    FakeTrace::events.clear();
    FakeTrace::logger = kLoggerHandle;
    FakeTrace::logger_error = 0;
    SetEtwTraceApiForTesting(&kFakeTraceApi);
  }
  // Built at the first use, after the test has set the stack-capture lookup.
  void TearDown() override {
    writer_.reset();
    EtwLogWriter::SetStackCaptureLookupForTesting(nullptr);
    SetEtwTraceApiForTesting(nullptr);
  }
  EtwLogWriter& writer() {
    if (!writer_) writer_ = std::make_unique<EtwLogWriter>();
    return *writer_;
  }
  ULONG Enable(ULONG flags, UCHAR level) {
    writer();
    return FakeTrace::EnableSession(flags, level);
  }
  void Write(LogCategory category, LogLevel level, const wchar_t* prefix, const wchar_t* message) {
    writer().Write(LogRecord{category, level, prefix, message});
  }

  std::unique_ptr<EtwLogWriter> writer_;
};

TEST(EtwLevel, MapsLogLevels) {
  const std::pair<LogLevel, uint8_t> cases[] = {
      {LL_FATAL, 1}, {LL_ERROR, 2}, {LL_WARNING, 3}, {1, 4}, {2, 4}, {3, 5}, {4, 5},
      {5, 5},        {6, 5},        {0, 0},          {LL_ALL, 0},    {8, 0}, {-4, 0}};
  for (const auto& [level, expected] : cases) EXPECT_EQ(EtwLevelOf(level), expected) << level;
}

TEST_F(EtwWriter, RegistersOnceBuiltAndUnregistersWhenDeleted) {
  EtwLogWriter& etw = writer();
  EXPECT_EQ(FakeTrace::registrations, 1);
  EXPECT_EQ(FakeTrace::context, static_cast<EtwProvider*>(&etw));
  EXPECT_EQ(FakeTrace::callback, &EtwProvider::ControlCallback);
  EXPECT_TRUE(IsEqualGUID(FakeTrace::control_guid, kEtwProviderGuid));
  EXPECT_FALSE(IsEqualGUID(kEtwProviderGuid, kEtwEventClassGuid));
  EXPECT_FALSE(IsEqualGUID(kEtwProviderGuid, kNullGuid));
  EXPECT_EQ(FakeTrace::guid_count, 1u);
  EXPECT_TRUE(IsEqualGUID(FakeTrace::class_guid, kNullGuid));
  EXPECT_TRUE(FakeTrace::class_handle_was_null);
  EXPECT_TRUE(FakeTrace::mof_names_were_null);
  EXPECT_EQ(etw.registration_handle(), kRegistrationHandle);

  ASSERT_EQ(Enable(0x7FE, 5), 0u);
  writer_.reset();
  ASSERT_FALSE(FakeTrace::unregistered.empty());
  EXPECT_EQ(FakeTrace::unregistered[0], kRegistrationHandle);
}

TEST_F(EtwWriter, CloseUnregistersAndForgetsTheSession) {
  ASSERT_EQ(Enable(0x7FE, 5), 0u);
  writer().Close();
  EXPECT_EQ(FakeTrace::unregistered, std::vector<TRACEHANDLE>{kRegistrationHandle});
  EXPECT_EQ(writer().logger_handle(), 0u);
  EXPECT_EQ(writer().enable_flags(), 0u);
  EXPECT_EQ(writer().enable_level(), 0u);
  EXPECT_EQ(writer().registration_handle(), 0u);
  EXPECT_FALSE(writer().WritesWhenDisabled());
}

TEST_F(EtwWriter, EnableAndDisableThroughTheControlCallback) {
  RecordingWriter recorder;
  recorder.wants_ = [](LogCategory category, LogLevel level) {
    return category == LC_CORE && level == 2;
  };
  ASSERT_TRUE(g_logging.AttachWriter(&recorder));

  EtwLogWriter& etw = writer();
  EXPECT_FALSE(etw.WritesWhenDisabled());
  EXPECT_EQ(Enable(0x22, 4), 0u);
  EXPECT_EQ(FakeTrace::enable_buffer, kEnableBuffer);
  EXPECT_EQ(etw.logger_handle(), kLoggerHandle);
  EXPECT_EQ(etw.enable_flags(), 0x22u);
  EXPECT_EQ(etw.enable_level(), 4u);
  EXPECT_TRUE(etw.WritesWhenDisabled());

  // A new enable request overwrites what the last one set.
  FakeTrace::logger = kLoggerHandle + 1;
  EXPECT_EQ(Enable(0x4, 2), 0u);
  EXPECT_EQ(etw.logger_handle(), kLoggerHandle + 1);
  EXPECT_EQ(etw.enable_flags(), 0x4u);

  EXPECT_EQ(FakeTrace::Request(WMI_DISABLE_EVENTS), 0u);
  EXPECT_EQ(etw.logger_handle(), 0u);
  EXPECT_EQ(etw.enable_flags(), 0u);
  EXPECT_EQ(etw.enable_level(), 0u);
  EXPECT_FALSE(etw.WritesWhenDisabled());
  EXPECT_FALSE(etw.IsEnabledFor(LC_UTIL, LL_ERROR));

  g_logging.DetachWriter(&recorder);
  EXPECT_EQ(recorder.messages(), (std::vector<std::wstring>{L"ETW logging enabled",
                                                            L"ETW logging enabled",
                                                            L"ETW logging disabled"}));
}

TEST_F(EtwWriter, FailedLoggerHandleLeavesTheProviderOff) {
  EtwLogWriter& etw = writer();
  ASSERT_EQ(Enable(0x22, 4), 0u);
  FakeTrace::Request(WMI_DISABLE_EVENTS);
  FakeTrace::flags = 0x7FE;
  FakeTrace::level = 5;
  // 0 and the failure value INVALID_HANDLE_VALUE, however it was widened.
  for (TRACEHANDLE failed : {0ull, 0xFFFFFFFFull, ~0ull}) {
    FakeTrace::logger = failed;
    FakeTrace::logger_error = ERROR_INVALID_HANDLE;
    EXPECT_EQ(FakeTrace::Request(WMI_ENABLE_EVENTS), static_cast<ULONG>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(etw.logger_handle(), 0u);
    EXPECT_EQ(etw.enable_flags(), 0u);
    EXPECT_EQ(etw.enable_level(), 0u);
    EXPECT_FALSE(etw.WritesWhenDisabled());
  }
}

TEST_F(EtwWriter, OtherRequestsAreRefusedAndChangeNothing) {
  EtwLogWriter& etw = writer();
  ASSERT_EQ(Enable(0x22, 4), 0u);
  for (WMIDPREQUESTCODE code : {WMI_GET_ALL_DATA, WMI_ENABLE_COLLECTION, WMI_EXECUTE_METHOD}) {
    EXPECT_EQ(FakeTrace::Request(code), static_cast<ULONG>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(etw.logger_handle(), kLoggerHandle);
  EXPECT_EQ(etw.enable_flags(), 0x22u);
}

TEST_F(EtwWriter, FiltersByCategoryBitAndLevel) {
  EtwLogWriter& etw = writer();
  // Bit c + 1 is category c; level 3 takes warnings and more severe.
  ASSERT_EQ(Enable((1u << (LC_CORE + 1)) | (1u << (LC_ALWAYS + 1)), 3), 0u);
  struct Case {
    LogCategory category;
    LogLevel level;
    bool expected;
  } cases[] = {{LC_CORE, LL_ERROR, true},  {LC_CORE, LL_WARNING, true}, {LC_CORE, 1, false},
               {LC_ALWAYS, LL_FATAL, true}, {LC_UTIL, LL_ERROR, false},  {LC_CORE, 0, true},
               {static_cast<LogCategory>(40), LL_ERROR, false}};
  for (const auto& one : cases) {
    EXPECT_EQ(etw.IsEnabledFor(one.category, one.level), one.expected)
        << one.category << " " << one.level;
  }

  // No category bit at all: no events.
  ASSERT_EQ(Enable(0x1, 5), 0u);
  for (int category = 0; category < 10; ++category) {
    Write(static_cast<LogCategory>(category), LL_ERROR, L"p", L"m");
  }
  EXPECT_TRUE(FakeTrace::events.empty());

  // Level 0 takes only the records whose level maps to 0.
  ASSERT_EQ(Enable(0x7FE, 0), 0u);
  for (LogLevel level : {LL_FATAL, LL_ERROR, 1, 5, 0, LL_ALL, 9}) Write(LC_CORE, level, L"p", L"m");
  ASSERT_EQ(FakeTrace::events.size(), 3u);
  for (const auto& event : FakeTrace::events) EXPECT_EQ(event.header.Class.Level, 0u);
}

TEST_F(EtwWriter, MessageEvent) {
  ASSERT_EQ(Enable(0x7FE, 5), 0u);
  Write(LC_CORE, LL_ERROR, L"[prefix]", L"message text");
  ASSERT_EQ(FakeTrace::events.size(), 1u);
  const TracedEvent& event = FakeTrace::events[0];
  EXPECT_EQ(event.logger, kLoggerHandle);
  EXPECT_EQ(event.header.Size, 80u);
  EXPECT_EQ(event.header.HeaderType, 0u);
  EXPECT_EQ(event.header.MarkerFlags, 0u);
  EXPECT_EQ(event.header.Class.Type, 10u);
  EXPECT_EQ(event.header.Class.Level, 2u);
  EXPECT_EQ(event.header.Class.Version, 0u);
  EXPECT_EQ(event.header.ThreadId, 0u);
  EXPECT_EQ(event.header.ProcessId, 0u);
  EXPECT_EQ(event.header.TimeStamp.QuadPart, 0);
  EXPECT_TRUE(IsEqualGUID(event.header.Guid, kEtwEventClassGuid));
  EXPECT_EQ(event.header.ClientContext, 0u);
  EXPECT_EQ(event.header.Flags, 0x00120000u);
  ASSERT_EQ(event.fields.size(), 2u);
  EXPECT_EQ(event.data[0], "[prefix]");
  EXPECT_EQ(event.data[1], std::string("message text", 13));  // with its terminator
  for (const auto& field : event.fields) {
    EXPECT_EQ(field.DataType, 0u);
    // A 32-bit pointer is zero-extended into the 64-bit field.
    if (sizeof(void*) == 4) {
      EXPECT_EQ(field.DataPtr >> 32, 0u);
    }
  }
}

TEST_F(EtwWriter, EmptyTextsAndTheAnsiCodePage) {
  ASSERT_EQ(Enable(0x7FE, 5), 0u);
  Write(LC_CORE, LL_ERROR, L"", L"");
  Write(LC_CORE, LL_ERROR, nullptr, L"caf\u00e9");
  ASSERT_EQ(FakeTrace::events.size(), 2u);
  EXPECT_EQ(FakeTrace::events[0].fields[0].Length, 0u);
  EXPECT_EQ(FakeTrace::events[0].data[1], std::string(1, '\0'));
  EXPECT_EQ(FakeTrace::events[1].fields[0].Length, 0u);
  char expected[16] = {};
  WideCharToMultiByte(CP_THREAD_ACP, 0, L"caf\u00e9", -1, expected, sizeof(expected), nullptr,
                      nullptr);
  EXPECT_EQ(FakeTrace::events[1].data[1], std::string(expected, strlen(expected) + 1));
}

TEST_F(EtwWriter, StackTraceEvent) {
  EtwLogWriter::SetStackCaptureLookupForTesting([] {
    return static_cast<CaptureStackBackTraceFunction>(&CaptureThreeFrames);
  });
  ASSERT_EQ(Enable(0x7FF, 5), 0u);
  Write(LC_CORE, LL_WARNING, L"p", L"m");
  ASSERT_EQ(FakeTrace::events.size(), 1u);
  const TracedEvent& event = FakeTrace::events[0];
  EXPECT_EQ(event.header.Size, 112u);
  EXPECT_EQ(event.header.Class.Type, 11u);
  EXPECT_EQ(event.header.Class.Level, 3u);
  ASSERT_EQ(event.fields.size(), 4u);
  EXPECT_EQ(event.fields[0].Length, 4u);
  EXPECT_EQ(*reinterpret_cast<const uint32_t*>(event.data[0].data()), 3u);
  // The frames as the capture gives them: three return addresses of the
  // program's own pointer size.
  EXPECT_EQ(event.fields[1].Length, 3 * sizeof(PVOID));
  EXPECT_EQ(reinterpret_cast<const uintptr_t*>(event.data[1].data())[2], 0x401002u);
  EXPECT_EQ(event.data[2], "p");
  EXPECT_EQ(event.data[3], std::string("m", 2));
}

TEST_F(EtwWriter, StackTraceWithoutTheCaptureExport) {
  EtwLogWriter::SetStackCaptureLookupForTesting([]() -> CaptureStackBackTraceFunction {
    return nullptr;
  });
  ASSERT_EQ(Enable(0x7FF, 5), 0u);
  Write(LC_CORE, LL_ERROR, L"p", L"m");
  ASSERT_EQ(FakeTrace::events.size(), 1u);
  EXPECT_EQ(FakeTrace::events[0].header.Size, 112u);
  EXPECT_EQ(FakeTrace::events[0].header.Class.Type, 11u);
  EXPECT_EQ(*reinterpret_cast<const uint32_t*>(FakeTrace::events[0].data[0].data()), 0u);
  EXPECT_EQ(FakeTrace::events[0].fields[1].Length, 0u);
}

TEST_F(EtwWriter, RealStackCaptureFindsFrames) {
  ASSERT_EQ(Enable(0x7FF, 5), 0u);
  Write(LC_CORE, LL_ERROR, L"p", L"m");
  ASSERT_EQ(FakeTrace::events.size(), 1u);
  const uint32_t frames = *reinterpret_cast<const uint32_t*>(FakeTrace::events[0].data[0].data());
  EXPECT_GT(frames, 0u);
  EXPECT_LE(frames, 32u);
  EXPECT_EQ(FakeTrace::events[0].fields[1].Length, frames * sizeof(PVOID));
}

// The control callback writes the 64-bit logger handle on its own thread
// while writes read it: a read must never see half of an old value and half
// of a new one.
TEST_F(EtwWriter, LoggerHandleIsNeverSeenTorn) {
  constexpr TRACEHANDLE kFirst = 0x00000001FFFFFFFEull;
  constexpr TRACEHANDLE kSecond = 0xFFFFFFFE00000001ull;
  EtwLogWriter& etw = writer();
  FakeTrace::flags = 0x7FE;
  FakeTrace::level = 5;
  std::atomic<bool> done{false};
  std::thread session([&] {
    for (int i = 0; i < 20000; ++i) {
      FakeTrace::logger = (i % 2) ? kFirst : kSecond;
      FakeTrace::Request(WMI_ENABLE_EVENTS);
    }
    done = true;
  });
  int torn = 0;
  while (!done) {
    const TRACEHANDLE seen = etw.logger_handle();
    if (seen != 0 && seen != kFirst && seen != kSecond && seen != kLoggerHandle) ++torn;
  }
  session.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace vireo
