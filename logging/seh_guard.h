#pragma once
// Structured-exception guards for code built with GCC, which has no
// __try/__except. On 32-bit x86 a frame-based handler registered on the
// thread's exception list around one guarded call (seh_guard_x86.cpp); on
// x86-64 a call made from a function whose unwind information names the
// guard's handler (seh_guard_x64.cpp).
//
// Guarded bodies must not rely on C++ destructors running when a fault unwinds
// them (as with __try); keep them to calls whose resources are owned outside.

#include <windows.h>

#include <type_traits>

namespace vireo {

// Decides what happens to an exception raised inside a guarded call:
// EXCEPTION_EXECUTE_HANDLER (1) unwinds to the guard, EXCEPTION_CONTINUE_SEARCH
// (0) passes the exception to the next handler out, EXCEPTION_CONTINUE_EXECUTION
// (-1) resumes at the faulting place. A breakpoint (0x80000003) is handed to the
// filter like any exception; the program's own filters pass it on.
using SehFilter = LONG (*)(EXCEPTION_POINTERS* pointers, void* context);

// Runs body(body_context) under a guard. Returns true when the body returned
// normally; false when an exception raised inside it was handled
// (the filter chose EXCEPTION_EXECUTE_HANDLER): the frames above the guard were
// unwound (RtlUnwind, RtlUnwindEx on x86-64) and the caller runs its recovery.
// Nests, and leaves the thread's exception list exactly as it found it.
bool RunGuarded(void (*body)(void*), void* body_context, SehFilter filter, void* filter_context);

// The same for callables: Guarded([&] { ... }, [&](EXCEPTION_POINTERS* p) { return ...; }).
// Either may be passed as a temporary or as a (const) named object.
template <typename Body, typename Filter>
bool Guarded(Body&& body, Filter&& filter) {
  using BodyType = std::remove_reference_t<Body>;
  using FilterType = std::remove_reference_t<Filter>;
  return RunGuarded(
      [](void* b) { (*static_cast<BodyType*>(b))(); },
      const_cast<void*>(static_cast<const void*>(&body)),
      [](EXCEPTION_POINTERS* p, void* f) -> LONG { return (*static_cast<FilterType*>(f))(p); },
      const_cast<void*>(static_cast<const void*>(&filter)));
}

}  // namespace vireo
