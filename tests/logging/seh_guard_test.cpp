#include "logging/seh_guard.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/fatal_error.h"
#include "base/owned_string.h"

namespace vireo {
namespace {

constexpr DWORD kBreakpoint = 0x80000003;

// The head of the thread's exception list, fs:[0] (read directly: the
// header's intrinsic trips the compiler's bounds warning). 64-bit Windows
// finds handlers through the images' unwind tables and leaves the same field,
// gs:[0], unused: a guard must not write it either.
EXCEPTION_REGISTRATION_RECORD* ExceptionListHead() {
  EXCEPTION_REGISTRATION_RECORD* head;
#if defined(__i386__)
  __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
#else
  __asm__ volatile("movq %%gs:0, %0" : "=r"(head));
#endif
  return head;
}

// What a filter saw, in the order the filters ran.
struct Sighting {
  const char* filter;
  DWORD code;
  DWORD flags;
};

// A filter that records the exception and answers `decision`; `passes_breakpoints`
// makes it answer EXCEPTION_CONTINUE_SEARCH for a breakpoint, as the
// program's own filters do.
auto Recording(const char* name, std::vector<Sighting>* seen, LONG decision,
               bool passes_breakpoints = false) {
  return [=](EXCEPTION_POINTERS* pointers) -> LONG {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    seen->push_back({name, record->ExceptionCode, record->ExceptionFlags});
    if (passes_breakpoints && record->ExceptionCode == kBreakpoint)
      return EXCEPTION_CONTINUE_SEARCH;
    return decision;
  };
}

// Not inlined, so that the fault happens frames below the guarded body.
__attribute__((noinline)) int FaultAtDepth(int depth, int* volatile target) {
  if (depth == 0) {
    *target = 1;
    return 0;
  }
  return FaultAtDepth(depth - 1, target) + 1;
}

#if defined(__i386__)
TEST(SehGuard, BodyThatReturnsRunsOnceWithTheGuardRegistered) {
  EXCEPTION_REGISTRATION_RECORD* const before = ExceptionListHead();
  std::vector<Sighting> seen;
  int runs = 0;
  EXCEPTION_REGISTRATION_RECORD* inside = nullptr;
  EXPECT_TRUE(Guarded(
      [&] {
        ++runs;
        inside = ExceptionListHead();
      },
      Recording("guard", &seen, EXCEPTION_EXECUTE_HANDLER)));
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(seen.empty());
  ASSERT_NE(inside, before);
  EXPECT_EQ(inside->Next, before);
  EXPECT_EQ(ExceptionListHead(), before);
}
#else
// How many frames from this function's caller up to the frame whose stack
// pointer is `outer` name a handler for exceptions, as the platform's
// dispatcher walks them.
__attribute__((noinline)) int ExceptionHandlersBelow(DWORD64 outer) {
  CONTEXT context;
  RtlCaptureContext(&context);
  int handlers = 0;
  while (context.Rsp < outer) {
    DWORD64 image_base = 0;
    RUNTIME_FUNCTION* function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
    if (!function) {
      // A leaf function: its return address is on top of the stack.
      context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
      context.Rsp += 8;
      continue;
    }
    void* handler_data = nullptr;
    DWORD64 establisher_frame = 0;
    if (RtlVirtualUnwind(UNW_FLAG_EHANDLER, image_base, context.Rip, function, &context,
                         &handler_data, &establisher_frame, nullptr)) {
      ++handlers;
    }
  }
  return handlers;
}

TEST(SehGuard, BodyThatReturnsRunsOnceWithTheGuardsHandlerOnTheStack) {
  CONTEXT here;
  RtlCaptureContext(&here);
  std::vector<Sighting> seen;
  int runs = 0;
  int inside = 0;
  EXPECT_TRUE(Guarded(
      [&] {
        ++runs;
        inside = ExceptionHandlersBelow(here.Rsp);
      },
      Recording("guard", &seen, EXCEPTION_EXECUTE_HANDLER)));
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(inside, 1) << "the dispatcher finds the guard's frame, and no other, with a handler";
  EXPECT_EQ(ExceptionHandlersBelow(here.Rsp), 0);
}
#endif

TEST(SehGuard, HandlesAWriteToAddressZero) {
  EXCEPTION_REGISTRATION_RECORD* const before = ExceptionListHead();
  int* volatile null_target = nullptr;
  ULONG_PTR access[2] = {};
  bool after_fault = false;
  const bool returned = Guarded(
      [&] {
        *null_target = 1;
        after_fault = true;
      },
      [&](EXCEPTION_POINTERS* pointers) -> LONG {
        if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
          return EXCEPTION_CONTINUE_SEARCH;
        }
        access[0] = pointers->ExceptionRecord->ExceptionInformation[0];
        access[1] = pointers->ExceptionRecord->ExceptionInformation[1];
        return EXCEPTION_EXECUTE_HANDLER;
      });
  EXPECT_FALSE(returned);
  EXPECT_FALSE(after_fault);
  EXPECT_EQ(access[0], 1u);  // a write
  EXPECT_EQ(access[1], 0u);  // at address 0
  EXPECT_EQ(ExceptionListHead(), before);
}

TEST(SehGuard, HandlesNonContinuableRaisesWithTheirCode) {
  for (const DWORD code : {0xC0000017u, 0xC000008Cu, 0xC000001Du}) {
    SCOPED_TRACE(code);
    EXCEPTION_REGISTRATION_RECORD* const before = ExceptionListHead();
    std::vector<Sighting> seen;
    EXPECT_FALSE(Guarded([&] { RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr); },
                         Recording("guard", &seen, EXCEPTION_EXECUTE_HANDLER)));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].code, code);
    EXPECT_TRUE(seen[0].flags & EXCEPTION_NONCONTINUABLE);
    EXPECT_EQ(ExceptionListHead(), before);
  }
}

TEST(SehGuard, FatalErrorOfAnOwnedStringArrivesNonContinuable) {
  const WideString text(L"ab");
  std::vector<Sighting> seen;
  EXPECT_FALSE(Guarded(
      [&] {
        volatile wchar_t c = text[5];
        (void)c;
      },
      Recording("guard", &seen, EXCEPTION_EXECUTE_HANDLER)));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, kFatalIndexOutOfBounds);
  EXPECT_TRUE(seen[0].flags & EXCEPTION_NONCONTINUABLE);
}

TEST(SehGuard, ContinueExecutionRetriesTheFaultOnceTheFilterFixedIt) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  auto* page = static_cast<volatile int*>(
      VirtualAlloc(nullptr, system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(page, nullptr);
  int faults = 0;
  EXPECT_TRUE(Guarded(
      [&] { *page = 42; },
      [&](EXCEPTION_POINTERS* pointers) -> LONG {
        if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
          return EXCEPTION_CONTINUE_SEARCH;
        }
        ++faults;
        DWORD old_protection;
        VirtualProtect(const_cast<int*>(page), system.dwPageSize, PAGE_READWRITE, &old_protection);
        return EXCEPTION_CONTINUE_EXECUTION;
      }));
  EXPECT_EQ(faults, 1);
  EXPECT_EQ(*page, 42);
  VirtualFree(const_cast<int*>(page), 0, MEM_RELEASE);
}

TEST(SehGuard, ContinuingANonContinuableExceptionRaisesAnother) {
  std::vector<Sighting> seen;
  EXPECT_FALSE(Guarded(
      [&] {
        // Asks to continue the fatal error only; the platform's answer to that
        // is itself non-continuable and must go on to the outer guard.
        Guarded([] { RaiseFatalError(kFatalInvalidOperation); },
                [&](EXCEPTION_POINTERS* pointers) -> LONG {
                  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
                  seen.push_back({"inner", code, pointers->ExceptionRecord->ExceptionFlags});
                  return code == kFatalInvalidOperation ? EXCEPTION_CONTINUE_EXECUTION
                                                        : EXCEPTION_CONTINUE_SEARCH;
                });
      },
      [&](EXCEPTION_POINTERS* pointers) -> LONG {
        seen.push_back({"outer", pointers->ExceptionRecord->ExceptionCode, 0});
        return pointers->ExceptionRecord->ExceptionCode == kFatalInvalidOperation
                   ? EXCEPTION_CONTINUE_SEARCH
                   : EXCEPTION_EXECUTE_HANDLER;
      }));
  ASSERT_GE(seen.size(), 2u);
  EXPECT_STREQ(seen[0].filter, "inner");
  EXPECT_EQ(seen.back().code, static_cast<DWORD>(STATUS_NONCONTINUABLE_EXCEPTION));
  EXPECT_STREQ(seen.back().filter, "outer");
}

TEST(SehGuard, BreakpointsPassAnInnerGuardToAnOuterOne) {
  struct Case {
    const char* name;
    void (*raise)();
  };
  const Case cases[] = {
      {"DebugBreak", [] { DebugBreak(); }},
      {"RaiseException", [] { RaiseException(kBreakpoint, 0, 0, nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXCEPTION_REGISTRATION_RECORD* const before = ExceptionListHead();
    std::vector<Sighting> seen;
    bool inner_returned = false;
    const bool outer = Guarded(
        [&] {
          Guarded([&] { c.raise(); }, Recording("inner", &seen, EXCEPTION_EXECUTE_HANDLER,
                                                /*passes_breakpoints=*/true));
          inner_returned = true;
        },
        Recording("outer", &seen, EXCEPTION_EXECUTE_HANDLER));
    EXPECT_FALSE(outer);
    EXPECT_FALSE(inner_returned);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_STREQ(seen[0].filter, "inner");
    EXPECT_STREQ(seen[1].filter, "outer");
    EXPECT_EQ(seen[1].code, kBreakpoint);
    EXPECT_EQ(ExceptionListHead(), before);
  }
}

TEST(SehGuard, ThreeDeepTheOutermostHandlesWhatTheInnerTwoPass) {
  EXCEPTION_REGISTRATION_RECORD* const before = ExceptionListHead();
  std::vector<Sighting> seen;
  std::vector<const char*> returned;
  int* volatile null_target = nullptr;
  const bool outer = Guarded(
      [&] {
        Guarded(
            [&] {
              Guarded([&] { *null_target = 1; },
                      Recording("inner", &seen, EXCEPTION_CONTINUE_SEARCH));
              returned.push_back("inner");
            },
            Recording("middle", &seen, EXCEPTION_CONTINUE_SEARCH));
        returned.push_back("middle");
      },
      Recording("outer", &seen, EXCEPTION_EXECUTE_HANDLER));
  EXPECT_FALSE(outer);
  EXPECT_TRUE(returned.empty());
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_STREQ(seen[0].filter, "inner");
  EXPECT_STREQ(seen[1].filter, "middle");
  EXPECT_STREQ(seen[2].filter, "outer");
  EXPECT_EQ(ExceptionListHead(), before);
}

TEST(SehGuard, AnInnerGuardThatHandlesLeavesTheOuterBodyRunning) {
  std::vector<Sighting> seen;
  bool inner = true;
  bool outer_finished = false;
  EXPECT_TRUE(Guarded(
      [&] {
        inner = Guarded([] { RaiseFatalError(kFatalAllocationFailure); },
                        Recording("inner", &seen, EXCEPTION_EXECUTE_HANDLER));
        outer_finished = true;
      },
      Recording("outer", &seen, EXCEPTION_EXECUTE_HANDLER)));
  EXPECT_FALSE(inner);
  EXPECT_TRUE(outer_finished);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_STREQ(seen[0].filter, "inner");
}

TEST(SehGuard, HandlesAFaultSeveralFramesBelowTheBody) {
  int* volatile null_target = nullptr;
  std::vector<Sighting> seen;
  EXPECT_FALSE(Guarded([&] { FaultAtDepth(6, null_target); },
                       Recording("guard", &seen, EXCEPTION_EXECUTE_HANDLER)));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

uintptr_t StackPointer() {
  uintptr_t sp;
#if defined(__i386__)
  __asm__ volatile("movl %%esp, %0" : "=r"(sp));
#else
  __asm__ volatile("movq %%rsp, %0" : "=r"(sp));
#endif
  return sp;
}

TEST(SehGuard, ManyGuardedCallsLeaveNeitherStackNorRecordsBehind) {
  EXCEPTION_REGISTRATION_RECORD* const before = ExceptionListHead();
  const uintptr_t stack_before = StackPointer();
  int* volatile null_target = nullptr;
  // The compiler may keep these in registers across the calls, so a wrong
  // register restore shows in the counts.
  unsigned returned = 0, handled = 0, filtered = 0;
  for (unsigned i = 0; i < 100000; ++i) {
    const bool ok = Guarded(
        [&] {
          if (i % 2) *null_target = 1;
        },
        [&](EXCEPTION_POINTERS*) -> LONG {
          ++filtered;
          return EXCEPTION_EXECUTE_HANDLER;
        });
    ok ? ++returned : ++handled;
  }
  EXPECT_EQ(returned, 50000u);
  EXPECT_EQ(handled, 50000u);
  EXPECT_EQ(filtered, 50000u);
  EXPECT_EQ(StackPointer(), stack_before);
  EXPECT_EQ(ExceptionListHead(), before);
}

void ReturnNormally(void*) {}

LONG HandleEverything(EXCEPTION_POINTERS*, void*) { return EXCEPTION_EXECUTE_HANDLER; }

#if defined(__i386__)
// Calls RunGuarded from assembly with known values in the callee-saved
// registers and reads them back afterwards: a guard must return with them as
// the caller had them, whatever the body did to them before it faulted.
struct RegisterProbe {
  bool (*run)(void (*)(void*), void*, SehFilter, void*);
  void (*body)(void*);
  void* body_context;
  SehFilter filter;
  void* filter_context;
  DWORD result;
  DWORD ebx;
  DWORD esi;
  DWORD edi;
  DWORD ebp;
};

void CallWithKnownRegisters(RegisterProbe* probe) {
  __asm__ volatile(
      "pushl %%ebp\n"
      "pushl %%eax\n"
      "movl $0x1badb002, %%ebx\n"
      "movl $0x2badb003, %%esi\n"
      "movl $0x3badb004, %%edi\n"
      "movl $0x4badb005, %%ebp\n"
      "pushl 16(%%eax)\n"
      "pushl 12(%%eax)\n"
      "pushl 8(%%eax)\n"
      "pushl 4(%%eax)\n"
      "call *0(%%eax)\n"
      "addl $16, %%esp\n"
      "popl %%ecx\n"
      "movl %%eax, 20(%%ecx)\n"
      "movl %%ebx, 24(%%ecx)\n"
      "movl %%esi, 28(%%ecx)\n"
      "movl %%edi, 32(%%ecx)\n"
      "movl %%ebp, 36(%%ecx)\n"
      "popl %%ebp\n"
      :
      : "a"(probe)
      : "ebx", "ecx", "edx", "esi", "edi", "memory", "cc");
}

void ClobberRegistersAndFault(void*) {
  // Never returns: the write to address 0 faults with every callee-saved
  // register changed, the frame pointer included.
  __asm__ volatile(
      "movl $0xdead0001, %%ebx\n"
      "movl $0xdead0002, %%esi\n"
      "movl $0xdead0003, %%edi\n"
      "pushl %%ebp\n"
      "movl $0xdead0004, %%ebp\n"
      "xorl %%eax, %%eax\n"
      "movl %%eax, (%%eax)\n"
      :
      :
      : "eax", "ebx", "esi", "edi", "memory");
}

TEST(SehGuard, RestoresTheCallersRegistersOnBothPaths) {
  for (const auto body : {&ReturnNormally, &ClobberRegistersAndFault}) {
    RegisterProbe probe = {&RunGuarded, body, nullptr, &HandleEverything, nullptr, 0xFF, 0,
                           0,           0,    0};
    CallWithKnownRegisters(&probe);
    EXPECT_EQ(probe.result & 0xFF, body == &ReturnNormally ? 1u : 0u);
    EXPECT_EQ(probe.ebx, 0x1badb002u);
    EXPECT_EQ(probe.esi, 0x2badb003u);
    EXPECT_EQ(probe.edi, 0x3badb004u);
    EXPECT_EQ(probe.ebp, 0x4badb005u);
  }
}

// Only 32-bit images have safe-handler tables and the "no SEH" mark.
TEST(SehGuard, ImageLetsThePlatformCallHandlersOutsideASafeHandlerTable) {
  // The platform refuses every frame handler of an image marked "no SEH", and
  // any handler missing from a safe-handler table when the image has one. The
  // toolchain writes neither, which the handled faults above confirm under Wine.
  const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  EXPECT_EQ(nt->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH, 0);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
  if (directory.VirtualAddress != 0) {
    const auto* config =
        reinterpret_cast<const IMAGE_LOAD_CONFIG_DIRECTORY32*>(base + directory.VirtualAddress);
    if (config->Size >= offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, SEHandlerCount) + sizeof(DWORD)) {
      EXPECT_EQ(config->SEHandlerCount, 0u);
    }
  }
}
#else
// Calls RunGuarded from assembly with known values in the callee-saved
// registers and reads them back afterwards: a guard must return with them as
// the caller had them, also when the body saved and changed them before it
// faulted (the unwind restores them from where the body's unwind information
// says it saved them).
struct RegisterProbe {
  bool (*run)(void (*)(void*), void*, SehFilter, void*);
  void (*body)(void*);
  void* body_context;
  SehFilter filter;
  void* filter_context;
  DWORD64 result;
  DWORD64 registers[8];  // rbx, rbp, rsi, rdi, r12, r13, r14, r15
};
static_assert(offsetof(RegisterProbe, result) == 40 && offsetof(RegisterProbe, registers) == 48,
              "the assembly uses these offsets");

constexpr DWORD64 kKnownRegisters[8] = {
    0x1badb0021badb002, 0x2badb0032badb003, 0x3badb0043badb004, 0x4badb0054badb005,
    0x5badb0065badb006, 0x6badb0076badb007, 0x7badb0087badb008, 0x0badb0090badb009};
constexpr const char* kRegisterNames[8] = {"rbx", "rbp", "rsi", "rdi", "r12", "r13", "r14", "r15"};

extern "C" void CallWithKnownRegisters(RegisterProbe* probe) __asm__("seh_test_call_with_known_registers");
extern "C" void ClobberRegistersAndFault(void*) __asm__("seh_test_clobber_registers_and_fault");

__asm__(
    ".text\n"
    ".p2align 4\n"
    "seh_test_call_with_known_registers:\n"
    "  .seh_proc seh_test_call_with_known_registers\n"
    "  pushq %rbp\n  .seh_pushreg %rbp\n"
    "  pushq %rbx\n  .seh_pushreg %rbx\n"
    "  pushq %rsi\n  .seh_pushreg %rsi\n"
    "  pushq %rdi\n  .seh_pushreg %rdi\n"
    "  pushq %r12\n  .seh_pushreg %r12\n"
    "  pushq %r13\n  .seh_pushreg %r13\n"
    "  pushq %r14\n  .seh_pushreg %r14\n"
    "  pushq %r15\n  .seh_pushreg %r15\n"
    "  subq $40, %rsp\n  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  movq %rcx, 32(%rsp)\n"
    "  movq %rcx, %r10\n"
    "  movabsq $0x1badb0021badb002, %rbx\n"
    "  movabsq $0x2badb0032badb003, %rbp\n"
    "  movabsq $0x3badb0043badb004, %rsi\n"
    "  movabsq $0x4badb0054badb005, %rdi\n"
    "  movabsq $0x5badb0065badb006, %r12\n"
    "  movabsq $0x6badb0076badb007, %r13\n"
    "  movabsq $0x7badb0087badb008, %r14\n"
    "  movabsq $0x0badb0090badb009, %r15\n"
    "  movq 8(%r10), %rcx\n"
    "  movq 16(%r10), %rdx\n"
    "  movq 24(%r10), %r8\n"
    "  movq 32(%r10), %r9\n"
    "  call *0(%r10)\n"
    "  movq 32(%rsp), %rcx\n"  // the probe, from a stack pointer the guard kept
    "  movq %rax, 40(%rcx)\n"
    "  movq %rbx, 48(%rcx)\n"
    "  movq %rbp, 56(%rcx)\n"
    "  movq %rsi, 64(%rcx)\n"
    "  movq %rdi, 72(%rcx)\n"
    "  movq %r12, 80(%rcx)\n"
    "  movq %r13, 88(%rcx)\n"
    "  movq %r14, 96(%rcx)\n"
    "  movq %r15, 104(%rcx)\n"
    "  addq $40, %rsp\n"
    "  popq %r15\n  popq %r14\n  popq %r13\n  popq %r12\n"
    "  popq %rdi\n  popq %rsi\n  popq %rbx\n  popq %rbp\n"
    "  ret\n"
    "  .seh_endproc\n"
    "\n"
    // Saves every callee-saved register as the ABI asks, changes them all and
    // writes to address 0; never returns.
    ".p2align 4\n"
    "seh_test_clobber_registers_and_fault:\n"
    "  .seh_proc seh_test_clobber_registers_and_fault\n"
    "  pushq %rbp\n  .seh_pushreg %rbp\n"
    "  pushq %rbx\n  .seh_pushreg %rbx\n"
    "  pushq %rsi\n  .seh_pushreg %rsi\n"
    "  pushq %rdi\n  .seh_pushreg %rdi\n"
    "  pushq %r12\n  .seh_pushreg %r12\n"
    "  pushq %r13\n  .seh_pushreg %r13\n"
    "  pushq %r14\n  .seh_pushreg %r14\n"
    "  pushq %r15\n  .seh_pushreg %r15\n"
    "  subq $8, %rsp\n  .seh_stackalloc 8\n"
    "  .seh_endprologue\n"
    "  movabsq $0xdead0001dead0001, %rbx\n"
    "  movabsq $0xdead0002dead0002, %rbp\n"
    "  movabsq $0xdead0003dead0003, %rsi\n"
    "  movabsq $0xdead0004dead0004, %rdi\n"
    "  movabsq $0xdead0005dead0005, %r12\n"
    "  movabsq $0xdead0006dead0006, %r13\n"
    "  movabsq $0xdead0007dead0007, %r14\n"
    "  movabsq $0xdead0008dead0008, %r15\n"
    "  xorl %eax, %eax\n"
    "  movl %eax, (%rax)\n"
    "  addq $8, %rsp\n"
    "  popq %r15\n  popq %r14\n  popq %r13\n  popq %r12\n"
    "  popq %rdi\n  popq %rsi\n  popq %rbx\n  popq %rbp\n"
    "  ret\n"
    "  .seh_endproc\n");

TEST(SehGuard, RestoresTheCallersRegistersOnBothPaths) {
  for (const auto body : {&ReturnNormally, &ClobberRegistersAndFault}) {
    RegisterProbe probe = {&RunGuarded, body, nullptr, &HandleEverything, nullptr, 0xFF, {}};
    CallWithKnownRegisters(&probe);
    EXPECT_EQ(probe.result & 0xFF, body == &ReturnNormally ? 1u : 0u);
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(probe.registers[i], kKnownRegisters[i]) << kRegisterNames[i];
    }
  }
}
#endif

}  // namespace
}  // namespace vireo
