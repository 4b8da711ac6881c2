#include "logging/seh_guard.h"

#include <cstddef>

// A guard is what __try/__except compiles to on x86-64: nothing is registered
// at run time; the image's unwind tables name a language-specific handler for
// the function that makes the guarded call. When an exception is dispatched,
// the platform walks the stack by those tables and calls the handler for the
// guard's frame; the handler asks the filter and, to handle the exception,
// unwinds every frame above the guard's with RtlUnwindEx, which resumes in the
// guard function at a label of its own. GCC cannot name a handler for its own
// functions without C++ exceptions, so the guard function is assembly.

#if !defined(__x86_64__)
#error "This guard is written for x86-64 table-based handling"
#endif

namespace vireo {

namespace {

// The guard function's frame after its prologue, which the platform hands to
// the handler as the establisher frame: the home area of the body's call, then
// what the handler needs. The assembly relies on this layout.
struct GuardFrame {
  void* home[4];
  SehFilter filter;
  void* filter_context;
  void* padding;  // keeps the stack 16-byte aligned at the body's call
};
static_assert(offsetof(GuardFrame, filter) == 32 && offsetof(GuardFrame, filter_context) == 40 &&
                  sizeof(GuardFrame) == 56,
              "the assembly uses these offsets and this size");

}  // namespace

}  // namespace vireo

// Calls body(body_context) with filter and filter_context in its frame;
// returns 1 when the body returns, 0 when the handler resumed the guard.
extern "C" int VireoSehGuardedCall(void (*body)(void*), void* body_context, vireo::SehFilter filter,
                                   void* filter_context) __asm__("vireo_seh_guarded_call");

// Where RtlUnwindEx resumes the guard function, with the stack pointer of its
// frame and the callee-saved registers the unwound frames had saved.
extern "C" void VireoSehGuardResume() __asm__("vireo_seh_guard_resume");

// Only the search phase (@except) calls the handler: unwinding through a
// guard whose body is abandoned by an outer one needs nothing of it.
__asm__(
    ".section .text$vireo_seh_guard,\"x\"\n"
    ".p2align 4\n"
    "vireo_seh_guarded_call:\n"
    "  .seh_proc vireo_seh_guarded_call\n"
    "  .seh_handler vireo_seh_guard_handler, @except\n"
    "  subq $56, %rsp\n"
    "  .seh_stackalloc 56\n"
    "  .seh_endprologue\n"
    "  movq %r8, 32(%rsp)\n"  // filter
    "  movq %r9, 40(%rsp)\n"  // filter context
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  call *%rax\n"
    "  movl $1, %eax\n"
    "  jmp 1f\n"
    "vireo_seh_guard_resume:\n"
    "  xorl %eax, %eax\n"
    "1:\n"
    "  addq $56, %rsp\n"
    "  ret\n"
    "  .seh_endproc\n");

namespace vireo {

namespace {

// The guard function's language-specific handler. `context` is the faulting
// thread's context, which the filter may change before execution continues;
// the dispatcher's own copy is the unwinder's scratch space.
extern "C" __attribute__((used)) EXCEPTION_DISPOSITION GuardHandler(
    EXCEPTION_RECORD* exception, void* establisher_frame, CONTEXT* context,
    DISPATCHER_CONTEXT* dispatcher) __asm__("vireo_seh_guard_handler");

EXCEPTION_DISPOSITION GuardHandler(EXCEPTION_RECORD* exception, void* establisher_frame,
                                   CONTEXT* context, DISPATCHER_CONTEXT* dispatcher) {
  const auto* frame = static_cast<const GuardFrame*>(establisher_frame);
  EXCEPTION_POINTERS pointers = {exception, context};
  const LONG decision = frame->filter(&pointers, frame->filter_context);
  // The values of __except: negative resumes, zero searches on, positive handles.
  if (decision < 0) return ExceptionContinueExecution;
  if (decision == 0) return ExceptionContinueSearch;
  // Calls the unwind handlers of every frame above the guard's, then resumes
  // at the label with 0 in eax; never returns here.
  ::RtlUnwindEx(establisher_frame, reinterpret_cast<void*>(&VireoSehGuardResume), exception,
                nullptr, dispatcher->ContextRecord, dispatcher->HistoryTable);
  __builtin_unreachable();
}

}  // namespace

bool RunGuarded(void (*body)(void*), void* body_context, SehFilter filter, void* filter_context) {
  return VireoSehGuardedCall(body, body_context, filter, filter_context) != 0;
}

}  // namespace vireo
