#include "logging/etw_log_writer.h"

#include <evntrace.h>

#include "base/owned_string.h"
#include "logging/log_interface.h"

namespace vireo {

// {6342B7EF-99D2-41FD-BE20-08BBC7FEDE6A}
const GUID kEtwProviderGuid = {
    0x6342b7ef, 0x99d2, 0x41fd, {0xbe, 0x20, 0x08, 0xbb, 0xc7, 0xfe, 0xde, 0x6a}};
// {5C84A1AF-3D7A-4FF6-A0C6-7D1F3C5F8FFA}
const GUID kEtwEventClassGuid = {
    0x5c84a1af, 0x3d7a, 0x4ff6, {0xa0, 0xc6, 0x7d, 0x1f, 0x3c, 0x5f, 0x8f, 0xfa}};

namespace {

// The event as TraceEvent takes it: the header, then MOF fields that point to
// the data (WNODE_FLAG_USE_MOF_PTR).
struct EtwEvent {
  EVENT_TRACE_HEADER header;
  MOF_FIELD fields[4];
};
static_assert(sizeof(EVENT_TRACE_HEADER) == 48, "the event header is 48 bytes");
static_assert(sizeof(MOF_FIELD) == 16, "a MOF field is 16 bytes");

CaptureStackBackTraceFunction (*stack_capture_lookup_for_testing)() = nullptr;

CaptureStackBackTraceFunction LookUpStackCapture() {
  if (stack_capture_lookup_for_testing) return stack_capture_lookup_for_testing();
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return nullptr;
  return reinterpret_cast<CaptureStackBackTraceFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "RtlCaptureStackBackTrace")));
}

// The thread's ANSI code page; empty for empty text or text that does not convert.
NarrowString NarrowForEvent(const wchar_t* text) {
  NarrowString narrow;
  if (!text || !*text) return narrow;
  const int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return narrow;
  narrow.Reserve(static_cast<size_t>(size - 1));
  const int written =
      ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.SetLength(written == size ? static_cast<size_t>(size - 1) : 0);
  return narrow;
}

void SetField(MOF_FIELD* field, const void* data, size_t length) {
  field->DataPtr = static_cast<ULONG64>(reinterpret_cast<ULONG_PTR>(data));
  field->Length = static_cast<ULONG>(length);
  field->DataType = 0;
}

}  // namespace

uint8_t EtwLevelOf(LogLevel level) {
  switch (level) {
    case LL_FATAL:
      return TRACE_LEVEL_CRITICAL;
    case LL_ERROR:
      return TRACE_LEVEL_ERROR;
    case LL_WARNING:
      return TRACE_LEVEL_WARNING;
    default:
      if (level >= LL_DEFAULT && level <= LL_PROGRESS) return TRACE_LEVEL_INFORMATION;
      if (level > LL_PROGRESS && level < LL_ALL) return TRACE_LEVEL_VERBOSE;
      return TRACE_LEVEL_NONE;
  }
}

void EtwLogWriter::SetStackCaptureLookupForTesting(CaptureStackBackTraceFunction (*lookup)()) {
  stack_capture_lookup_for_testing = lookup;
}

EtwLogWriter::EtwLogWriter() : EtwProvider(kEtwProviderGuid) {
  capture_stack_back_trace_ = LookUpStackCapture();
  // Last: the control callback may call our overrides at once.
  Register();
}

EtwLogWriter::~EtwLogWriter() { Close(); }

void EtwLogWriter::Close() { Unregister(); }

bool EtwLogWriter::WritesWhenDisabled() { return logger_handle() != 0; }

bool EtwLogWriter::IsEnabledFor(LogCategory category, LogLevel level) {
  if (category < 0 || category > 30) return false;
  if ((enable_flags() & (1u << (category + 1))) == 0) return false;
  return enable_level() >= EtwLevelOf(level);
}

void EtwLogWriter::Write(const LogRecord& record) {
  if (!IsEnabledFor(record.category, record.level)) return;
  const NarrowString prefix = NarrowForEvent(record.prefix);
  const NarrowString message = NarrowForEvent(record.message);
  const uint8_t level = EtwLevelOf(record.level);

  EtwEvent event = {};
  event.header.Class.Level = level;
  event.header.Guid = kEtwEventClassGuid;
  event.header.Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR;

  void* frames[kEtwMaxStackFrames] = {};
  ULONG frame_count = 0;
  int field = 0;
  if (enable_flags() & 1) {
    if (capture_stack_back_trace_) {
      frame_count = capture_stack_back_trace_(0, kEtwMaxStackFrames, frames, nullptr);
    }
    event.header.Class.Type = kEtwEventTypeMessageWithStack;
    SetField(&event.fields[field++], &frame_count, sizeof(frame_count));
    SetField(&event.fields[field++], frames, frame_count * sizeof(void*));
  } else {
    event.header.Class.Type = kEtwEventTypeMessage;
  }
  SetField(&event.fields[field++], prefix.c_str(), prefix.length());
  SetField(&event.fields[field++], message.c_str(), message.length() + 1);
  event.header.Size = static_cast<USHORT>(sizeof(EVENT_TRACE_HEADER) + field * sizeof(MOF_FIELD));

  if (enable_level() >= level) CurrentEtwTraceApi().trace_event(logger_handle(), &event.header);
}

void EtwLogWriter::OnTracingEnabled() { VIREO_LOG(LC_CORE, LL_PROGRESS, L"ETW logging enabled"); }

void EtwLogWriter::OnTracingDisabled() { VIREO_LOG(LC_CORE, LL_PROGRESS, L"ETW logging disabled"); }

}  // namespace vireo
