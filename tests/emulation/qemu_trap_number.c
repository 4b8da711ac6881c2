/*
 * Preloaded into 32-bit Wine processes where this machine runs 32-bit x86
 * programs under QEMU's user-mode emulation (its kernel lacks the 32-bit
 * system-call layer). The emulator's signal context carries trap number -1 for
 * processor faults, and Wine decides the exception from that number: every
 * access violation would reach the program as an illegal instruction. Here
 * the trap number the kernel would report is filled in before Wine's handler
 * runs. Nothing of the stub depends on it; it is built for i386 Linux at
 * set-up.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <ucontext.h>

typedef void (*SigactionHandler)(int, siginfo_t*, void*);
static SigactionHandler fault_handlers[65];

enum { kTrapDivide = 0, kTrapBreakpoint = 3, kTrapInvalidOpcode = 6, kTrapProtection = 13,
       kTrapPageFault = 14 };

static void mend_trap_number(int signal, siginfo_t* info, void* context) {
  ucontext_t* uc = (ucontext_t*)context;
  greg_t* trap = &uc->uc_mcontext.gregs[REG_TRAPNO];
  if (*trap == (greg_t)-1) {
    switch (signal) {
      case SIGSEGV: *trap = info->si_code == SI_KERNEL ? kTrapProtection : kTrapPageFault; break;
      case SIGBUS: *trap = kTrapProtection; break;
      case SIGILL: *trap = kTrapInvalidOpcode; break;
      case SIGFPE: *trap = kTrapDivide; break;
      case SIGTRAP: *trap = kTrapBreakpoint; break;
    }
  }
  fault_handlers[signal](signal, info, context);
}

static int is_fault_signal(int signal) {
  return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE ||
         signal == SIGTRAP;
}

int sigaction(int signal, const struct sigaction* action, struct sigaction* old_action) {
  static int (*real_sigaction)(int, const struct sigaction*, struct sigaction*);
  if (!real_sigaction) {
    real_sigaction =
        (int (*)(int, const struct sigaction*, struct sigaction*))dlsym(RTLD_NEXT, "sigaction");
  }
  if (action && is_fault_signal(signal) && (action->sa_flags & SA_SIGINFO) &&
      action->sa_sigaction != mend_trap_number) {
    struct sigaction wrapped = *action;
    fault_handlers[signal] = action->sa_sigaction;
    wrapped.sa_sigaction = mend_trap_number;
    return real_sigaction(signal, &wrapped, old_action);
  }
  return real_sigaction(signal, action, old_action);
}
