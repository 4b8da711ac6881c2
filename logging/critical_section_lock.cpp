#include "logging/critical_section_lock.h"

namespace vireo {

CriticalSectionLock::CriticalSectionLock() { ::InitializeCriticalSection(&section_); }

CriticalSectionLock::~CriticalSectionLock() { ::DeleteCriticalSection(&section_); }

bool CriticalSectionLock::Lock() {
  ::EnterCriticalSection(&section_);
  return true;
}

bool CriticalSectionLock::Unlock() {
  ::LeaveCriticalSection(&section_);
  return true;
}

bool CriticalSectionLock::TryLock(uint32_t timeout_ms) {
  if (::TryEnterCriticalSection(&section_)) return true;
  // Yield instead of blocking, so that a caller with a short time-out comes
  // back within a few scheduler turns.
  const DWORD start = ::GetTickCount();
  for (;;) {
    ::Sleep(0);
    if (::TryEnterCriticalSection(&section_)) return true;
    if (static_cast<uint32_t>(::GetTickCount() - start) >= timeout_ms) return false;
  }
}

}  // namespace vireo
