#include "logging/seh_guard.h"

#include <cstddef>

// A guard is what __try/__except compiles to on 32-bit x86: a registration
// record pushed on the thread's exception list (fs:[0]) for the duration of the
// guarded call, whose handler asks the filter and, to handle the exception,
// unwinds the frames above the record with RtlUnwind and resumes in the guard.
// GCC cannot express the resumption, so two small assembly routines save and
// restore the guard's registers the way setjmp/longjmp do.

#if !defined(__i386__)
#error "Structured-exception guards are written for 32-bit x86 frame-based handling"
#endif

namespace vireo {

namespace {

// Where the guard resumes: its callee-saved registers, its stack pointer just
// after the capture call returned, and that call's return address. The
// assembly below relies on this layout.
struct ResumeContext {
  DWORD ebx;
  DWORD esi;
  DWORD edi;
  DWORD ebp;
  DWORD esp;
  DWORD eip;
};
static_assert(offsetof(ResumeContext, ebx) == 0 && offsetof(ResumeContext, esi) == 4 &&
                  offsetof(ResumeContext, edi) == 8 && offsetof(ResumeContext, ebp) == 12 &&
                  offsetof(ResumeContext, esp) == 16 && offsetof(ResumeContext, eip) == 20,
              "the assembly routines use these offsets");

// One guard on the thread's exception list. The record comes first: the
// platform hands its address to the handler as the establisher frame.
struct GuardFrame {
  EXCEPTION_REGISTRATION_RECORD record;
  SehFilter filter;
  void* filter_context;
  ResumeContext resume;
};
static_assert(offsetof(GuardFrame, record) == 0, "the establisher frame is the guard frame");

}  // namespace

}  // namespace vireo

// Returns 0 after saving the caller's context; returns 1 a second time when
// vireo_seh_unwind_and_resume restores it. returns_twice keeps the compiler from
// caching anything across it that the second return would invalidate.
extern "C" int VireoSehCapture(vireo::ResumeContext* context) __asm__("vireo_seh_capture")
    __attribute__((returns_twice));

// Unwinds every frame above `target` (calling their handlers with the unwinding
// flag), then resumes at `resume`. Never returns.
extern "C" [[noreturn]] void VireoSehUnwindAndResume(
    EXCEPTION_REGISTRATION_RECORD* target, EXCEPTION_RECORD* exception,
    vireo::ResumeContext* resume) __asm__("vireo_seh_unwind_and_resume");

// Both routines are cdecl. RtlUnwind is stdcall and keeps esp and ebp, but on
// some systems returns with ebx, esi and edi changed, so the resume context is
// read back from our own argument slot after it, not from a register.
__asm__(
    ".section .text$vireo_seh_guard,\"x\"\n"
    ".p2align 4\n"
    "vireo_seh_capture:\n"
    "  movl 4(%esp), %eax\n"  // context
    "  movl %ebx, 0(%eax)\n"
    "  movl %esi, 4(%eax)\n"
    "  movl %edi, 8(%eax)\n"
    "  movl %ebp, 12(%eax)\n"
    "  leal 4(%esp), %ecx\n"  // the caller's esp once we have returned
    "  movl %ecx, 16(%eax)\n"
    "  movl (%esp), %ecx\n"  // our return address
    "  movl %ecx, 20(%eax)\n"
    "  xorl %eax, %eax\n"
    "  ret\n"
    "\n"
    ".p2align 4\n"
    "vireo_seh_unwind_and_resume:\n"
    "  movl 4(%esp), %eax\n"  // target registration record
    "  movl 8(%esp), %ecx\n"  // exception record
    "  pushl $0\n"            // ReturnValue
    "  pushl %ecx\n"          // ExceptionRecord
    "  pushl $0\n"            // TargetIp: x86 RtlUnwind returns to its caller
    "  pushl %eax\n"          // TargetFrame: stays on the list, everything above goes
    "  call *__imp__RtlUnwind@16\n"
    "  movl 12(%esp), %ecx\n"  // resume context
    "  movl 0(%ecx), %ebx\n"
    "  movl 4(%ecx), %esi\n"
    "  movl 8(%ecx), %edi\n"
    "  movl 12(%ecx), %ebp\n"
    "  movl 16(%ecx), %esp\n"
    "  movl $1, %eax\n"  // the capture call's second result
    "  jmp *20(%ecx)\n");

namespace vireo {

namespace {

EXCEPTION_REGISTRATION_RECORD* ExceptionListHead() {
  EXCEPTION_REGISTRATION_RECORD* head;
  __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void SetExceptionListHead(EXCEPTION_REGISTRATION_RECORD* head) {
  __asm__ volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// cdecl, as the platform's dispatchers expect of compiler-generated handlers
// (they restore esp themselves, so the header's stdcall type is only a cast away).
EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* exception, void* establisher_frame,
                                           CONTEXT* context, void*) {
  // An outer handler is unwinding through us: the guarded call is being
  // abandoned, and the guard itself is abandoned with it.
  if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    return ExceptionContinueSearch;
  }
  auto* frame = static_cast<GuardFrame*>(establisher_frame);
  EXCEPTION_POINTERS pointers = {exception, context};
  const LONG decision = frame->filter(&pointers, frame->filter_context);
  // The values of __except: negative resumes, zero searches on, positive handles.
  if (decision < 0) return ExceptionContinueExecution;
  if (decision == 0) return ExceptionContinueSearch;
  VireoSehUnwindAndResume(&frame->record, exception, &frame->resume);
}

}  // namespace

bool RunGuarded(void (*body)(void*), void* body_context, SehFilter filter, void* filter_context) {
  GuardFrame frame;
  frame.record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&GuardHandler);
  frame.filter = filter;
  frame.filter_context = filter_context;
  if (VireoSehCapture(&frame.resume) != 0) {
    // Resumed by the handler: RtlUnwind removed every record above ours, so
    // ours is the head again.
    SetExceptionListHead(static_cast<volatile GuardFrame&>(frame).record.Next);
    return false;
  }
  frame.record.Next = ExceptionListHead();
  SetExceptionListHead(&frame.record);
  body(body_context);
  SetExceptionListHead(frame.record.Next);
  return true;
}

}  // namespace vireo
