/*
 * Preloaded into 32-bit Wine processes when this machine runs 32-bit x86
 * programs under QEMU's user-mode emulation (its kernel lacks the 32-bit
 * system-call layer). Two gaps of the emulator, as Wine meets them:
 *
 * - A mapping request with MAP_FIXED_NOREPLACE whose range is taken comes back
 *   at another address instead of failing with EEXIST. Wine reserves its
 *   address space by halving ranges until requests succeed, so each process
 *   start made about 130,000 misplaced mappings (some 40 s of emulated time).
 *   Here such a result is undone and reported as the kernel would.
 * - The signal context carries trap number -1 for processor faults, so Wine
 *   turned every access violation into an illegal-instruction exception. Here
 *   the trap number the kernel would report is filled in before Wine's
 *   handler runs.
 *
 * Built for i386 Linux at set-up; nothing of the stub depends on it.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

static void* map2(void* address, size_t length, int protection, int flags, int fd,
                  unsigned long page_offset) {
  return (void*)syscall(SYS_mmap2, address, length, protection, flags, fd, page_offset);
}

static void* checked_map(void* address, size_t length, int protection, int flags, int fd,
                         unsigned long page_offset) {
  void* result = map2(address, length, protection, flags, fd, page_offset);
  if ((flags & MAP_FIXED_NOREPLACE) && result != MAP_FAILED && result != address) {
    syscall(SYS_munmap, result, length);
    errno = EEXIST;
    return MAP_FAILED;
  }
  return result;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  if (offset & 4095) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  return checked_map(address, length, protection, flags, fd, (unsigned long)offset >> 12);
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, off64_t offset) {
  if ((offset & 4095) || offset < 0 || (offset >> 12) > 0xffffffffLL) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  return checked_map(address, length, protection, flags, fd, (unsigned long)(offset >> 12));
}

/* Wine's handlers of processor faults, called after the trap number is mended. */
typedef void (*SigactionHandler)(int, siginfo_t*, void*);
static SigactionHandler fault_handlers[65];

enum { kTrapDivide = 0, kTrapBreakpoint = 3, kTrapInvalidOpcode = 6, kTrapProtection = 13,
       kTrapPageFault = 14 };

static void mend_trap_number(int signal, siginfo_t* info, void* context) {
  ucontext_t* uc = (ucontext_t*)context;
  greg_t* trap = &uc->uc_mcontext.gregs[REG_TRAPNO];
  if (*trap == (greg_t)-1) {
    switch (signal) {
      case SIGSEGV:
        *trap = info->si_code == SI_KERNEL ? kTrapProtection : kTrapPageFault;
        break;
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
    real_sigaction = (int (*)(int, const struct sigaction*, struct sigaction*))dlsym(RTLD_NEXT, "sigaction");
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
