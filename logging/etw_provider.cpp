#include "logging/etw_provider.h"

namespace vireo {

namespace {

constexpr GUID kZeroGuid = {};

// Invalid handle values GetTraceLoggerHandle may report, besides 0: the
// pointer-sized INVALID_HANDLE_VALUE, zero- or sign-extended.
constexpr TRACEHANDLE kInvalidLoggerHandle32 = 0xFFFFFFFFull;
constexpr TRACEHANDLE kInvalidLoggerHandle64 = ~0ull;

const EtwTraceApi kPlatformTraceApi = {
    ::RegisterTraceGuidsW,  ::UnregisterTraceGuids, ::GetTraceLoggerHandle,
    ::GetTraceEnableFlags, ::GetTraceEnableLevel,  ::TraceEvent,
};

const EtwTraceApi* trace_api_for_testing = nullptr;

bool IsZeroGuid(const GUID& guid) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&guid);
  for (size_t i = 0; i < sizeof(guid); ++i) {
    if (bytes[i]) return false;
  }
  return true;
}

}  // namespace

const EtwTraceApi& CurrentEtwTraceApi() {
  return trace_api_for_testing ? *trace_api_for_testing : kPlatformTraceApi;
}

void SetEtwTraceApiForTesting(const EtwTraceApi* api) { trace_api_for_testing = api; }

EtwProvider::EtwProvider(const GUID& provider_guid) : provider_guid_(provider_guid) {}

EtwProvider::~EtwProvider() { Unregister(); }

TRACEHANDLE EtwProvider::logger_handle() const {
  // i686 has no plain 64-bit load: a compare-exchange that never changes the
  // value reads both halves at once.
  return static_cast<TRACEHANDLE>(
      ::InterlockedCompareExchange64(const_cast<volatile int64_t*>(&logger_handle_), 0, 0));
}

void EtwProvider::set_logger_handle(TRACEHANDLE handle) {
  ::InterlockedExchange64(&logger_handle_, static_cast<int64_t>(handle));
}

void EtwProvider::Register() {
  if (IsZeroGuid(provider_guid_)) return;
  trace_guid_registration_.Guid = &kZeroGuid;
  trace_guid_registration_.RegHandle = nullptr;
  CurrentEtwTraceApi().register_trace_guids(&EtwProvider::ControlCallback, this, &provider_guid_,
                                            1, &trace_guid_registration_, nullptr, nullptr,
                                            &registration_handle_);
}

void EtwProvider::Unregister() {
  CurrentEtwTraceApi().unregister_trace_guids(registration_handle_);
  enable_level_ = 0;
  enable_flags_ = 0;
  set_logger_handle(0);
  registration_handle_ = 0;
}

ULONG WINAPI EtwProvider::ControlCallback(WMIDPREQUESTCODE request, PVOID context, ULONG*,
                                          PVOID buffer) {
  auto* provider = static_cast<EtwProvider*>(context);
  const EtwTraceApi& api = CurrentEtwTraceApi();
  switch (request) {
    case WMI_ENABLE_EVENTS: {
      const TRACEHANDLE logger = api.get_trace_logger_handle(buffer);
      if (logger == 0 || logger == kInvalidLoggerHandle32 || logger == kInvalidLoggerHandle64) {
        // The failure value must not pass for an enabled session.
        const DWORD error = ::GetLastError();
        provider->set_logger_handle(0);
        return error != ERROR_SUCCESS ? error : ERROR_INVALID_HANDLE;
      }
      provider->set_logger_handle(logger);
      provider->enable_flags_ = api.get_trace_enable_flags(logger);
      provider->enable_level_ = api.get_trace_enable_level(logger);
      provider->OnTracingEnabled();
      return ERROR_SUCCESS;
    }
    case WMI_DISABLE_EVENTS:
      provider->enable_level_ = 0;
      provider->enable_flags_ = 0;
      provider->set_logger_handle(0);
      provider->OnTracingDisabled();
      return ERROR_SUCCESS;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace vireo
