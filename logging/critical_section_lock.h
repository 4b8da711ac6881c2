#pragma once
// The re-entrant lock of the Logging object: a critical section behind an
// abstract lock interface, with a timed try that never blocks in the platform,
// and the scope that holds it.

#include <windows.h>

#include <cstdint>

#include "base/heap.h"

namespace vireo {

class LockInterface : public ProcessHeapObject {
 public:
  virtual ~LockInterface() = default;
  // Both return true once done.
  virtual bool Lock() = 0;
  virtual bool Unlock() = 0;
};

// Final, so that the calls through a ScopedLock bind directly.
class CriticalSectionLock final : public LockInterface {
 public:
  CriticalSectionLock();
  ~CriticalSectionLock() override;
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

  // Waits for the lock; true once held (at once when this thread holds it).
  bool Lock() override;
  // Leaves the lock once; true.
  bool Unlock() override;
  // Tries to take the lock, yielding with Sleep(0) between attempts until
  // `timeout_ms` has passed; true when held. A time-out of 0 makes two attempts.
  virtual bool TryLock(uint32_t timeout_ms);

 private:
  CRITICAL_SECTION section_;
};

// Holds a CriticalSectionLock from construction to the end of the scope. A
// guard (base/seh_guard.h) that handles a fault unwinds the frames inside it
// without running their destructors: a ScopedLock declared inside a guarded
// call then stays held, so hold the lock around guarded calls instead.
class ScopedLock {
 public:
  enum Adopt { kAdopt };

  // Takes the lock, waiting for it.
  explicit ScopedLock(CriticalSectionLock& lock) : lock_(lock) { lock_.Lock(); }
  // Takes over the lock, which this thread already holds (from TryLock).
  ScopedLock(CriticalSectionLock& lock, Adopt) : lock_(lock) {}
  ~ScopedLock() { lock_.Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSectionLock& lock_;
};

}  // namespace vireo
