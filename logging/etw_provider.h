#pragma once
// A classic (MOF-style) Event Tracing for Windows provider: registers a
// control GUID and learns from the platform's control callback when a trace
// logger enables or disables it, and with which flags and level.

#include <windows.h>

#include <evntrace.h>

#include <cstdint>

#include "base/heap.h"

namespace vireo {

// The platform's trace calls. Tests replace them: Wine never enables a
// provider, so a test plays the trace session through the registered callback.
struct EtwTraceApi {
  decltype(&::RegisterTraceGuidsW) register_trace_guids;
  decltype(&::UnregisterTraceGuids) unregister_trace_guids;
  decltype(&::GetTraceLoggerHandle) get_trace_logger_handle;
  decltype(&::GetTraceEnableFlags) get_trace_enable_flags;
  decltype(&::GetTraceEnableLevel) get_trace_enable_level;
  decltype(&::TraceEvent) trace_event;
};

// The calls in use: advapi32's, or those set for testing.
const EtwTraceApi& CurrentEtwTraceApi();
// Pass null to restore advapi32's calls. The table must outlive its use.
void SetEtwTraceApiForTesting(const EtwTraceApi* api);

class EtwProvider : public ProcessHeapObject {
 public:
  // Registers nothing yet: a derived class calls Register once it is fully
  // built, because the callback may run on a platform thread at once.
  explicit EtwProvider(const GUID& provider_guid);
  // Unregisters.
  virtual ~EtwProvider();
  EtwProvider(const EtwProvider&) = delete;
  EtwProvider& operator=(const EtwProvider&) = delete;

  // The logger handle of the session that enabled us, 0 while none does. Read
  // and written as one 64-bit unit: the callback writes it on another thread.
  TRACEHANDLE logger_handle() const;
  uint32_t enable_flags() const { return enable_flags_; }
  uint8_t enable_level() const { return enable_level_; }
  TRACEHANDLE registration_handle() const { return registration_handle_; }
  const GUID& provider_guid() const { return provider_guid_; }

  // The WMIDPREQUEST callback; `context` is the EtwProvider. Enable (4) stores
  // the logger handle, flags and level and returns 0, or the platform's error
  // with the handle 0 when the logger handle cannot be had; disable (5) clears
  // them and returns 0; anything else returns ERROR_INVALID_PARAMETER.
  static ULONG WINAPI ControlCallback(WMIDPREQUESTCODE request, PVOID context, ULONG* buffer_size,
                                      PVOID buffer);

 protected:
  // RegisterTraceGuidsW with one all-zero trace GUID; a failure leaves the
  // provider registered nowhere and never enabled. Nothing for an all-zero
  // provider GUID.
  void Register();
  // UnregisterTraceGuids, then every handle, flag and the level become 0.
  void Unregister();

  virtual void OnTracingEnabled() {}
  virtual void OnTracingDisabled() {}

 private:
  void set_logger_handle(TRACEHANDLE handle);

  GUID provider_guid_;
  TRACEHANDLE registration_handle_ = 0;
  volatile int64_t logger_handle_ = 0;
  volatile uint32_t enable_flags_ = 0;
  volatile uint8_t enable_level_ = 0;
  // RegisterTraceGuidsW writes the class registration handle back into it.
  TRACE_GUID_REGISTRATION trace_guid_registration_ = {};
};

}  // namespace vireo
