#pragma once
// The re-entrant lock of the Logging object: a critical section behind an
// abstract lock interface, with a timed try that never blocks in the platform.

#include <windows.h>

#include <cstdint>

namespace vireo {

class LockInterface {
 public:
  virtual ~LockInterface() = default;
  // Both return true once done.
  virtual bool Lock() = 0;
  virtual bool Unlock() = 0;
};

class CriticalSectionLock : public LockInterface {
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

}  // namespace vireo
