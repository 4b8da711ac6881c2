#pragma once
// The writer that turns records into classic ETW events while a trace session
// has enabled the provider. Enable flags: bit 0 asks for a stack trace with
// every event, bit c + 1 enables category c.

#include <windows.h>

#include <cstdint>

#include "logging/etw_provider.h"
#include "logging/log_writer.h"

namespace vireo {

// The provider's control GUID and the class GUID of its events.
extern const GUID kEtwProviderGuid;
extern const GUID kEtwEventClassGuid;

// Event types: without and with a stack trace.
constexpr uint8_t kEtwEventTypeMessage = 10;
constexpr uint8_t kEtwEventTypeMessageWithStack = 11;
constexpr int kEtwMaxStackFrames = 32;

// The ETW level of a LogLevel: FATAL 1, ERROR 2, WARNING 3, LL_DEFAULT and
// LL_PROGRESS (1 and 2) give 4, the levels between LL_PROGRESS and LL_ALL (3 to
// 6) give 5, anything else 0.
uint8_t EtwLevelOf(LogLevel level);

using CaptureStackBackTraceFunction = USHORT(WINAPI*)(ULONG frames_to_skip,
                                                      ULONG frames_to_capture, PVOID* frames,
                                                      PULONG hash);

class EtwLogWriter : public LogWriter, public EtwProvider {
 public:
  // Looks up RtlCaptureStackBackTrace in kernel32, then registers the provider.
  EtwLogWriter();
  ~EtwLogWriter() override;

  // Unregisters the provider.
  void Close() override;
  // True while a trace session has the provider enabled.
  bool WritesWhenDisabled() override;
  // True when the enable flags have bit category + 1 and the enable level is at
  // least the record's ETW level.
  bool IsEnabledFor(LogCategory category, LogLevel level) override;
  // One event of type 10 (prefix, message) or, with flag bit 0, type 11
  // (frame count, frames, prefix, message), texts in the thread's ANSI code page.
  void Write(const LogRecord& record) override;

  // Tests stand in for kernel32's lookup of the stack-capture entry (which may
  // then be null). Pass null to restore the lookup.
  static void SetStackCaptureLookupForTesting(CaptureStackBackTraceFunction (*lookup)());

 protected:
  // Log "ETW logging enabled" / "ETW logging disabled" in LC_CORE at level 2.
  void OnTracingEnabled() override;
  void OnTracingDisabled() override;

 private:
  CaptureStackBackTraceFunction capture_stack_back_trace_ = nullptr;
};

}  // namespace vireo
