#include "logging/critical_section_lock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace vireo {
namespace {

// Holds `lock` on a thread of its own until release() is called.
class HolderThread {
 public:
  explicit HolderThread(CriticalSectionLock* lock)
      : lock_(lock),
        held_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
    WaitForSingleObject(held_, INFINITE);
  }
  ~HolderThread() {
    release();
    WaitForSingleObject(thread_, INFINITE);
    for (HANDLE handle : {thread_, release_, held_}) CloseHandle(handle);
  }
  void release() { SetEvent(release_); }

 private:
  static DWORD WINAPI Run(void* self_pointer) {
    auto* self = static_cast<HolderThread*>(self_pointer);
    self->lock_->Lock();
    SetEvent(self->held_);
    WaitForSingleObject(self->release_, INFINITE);
    self->lock_->Unlock();
    return 0;
  }

  CriticalSectionLock* lock_;
  HANDLE held_;
  HANDLE release_;
  HANDLE thread_;
};

TEST(CriticalSectionLock, IsReentrantOnTheHoldingThread) {
  CriticalSectionLock lock;
  EXPECT_TRUE(lock.Lock());
  EXPECT_TRUE(lock.Lock());
  EXPECT_TRUE(lock.TryLock(0));
  EXPECT_TRUE(lock.Unlock());
  EXPECT_TRUE(lock.Unlock());
  EXPECT_TRUE(lock.Unlock());
  // Fully released: another thread gets it.
  HolderThread other(&lock);
}

TEST(CriticalSectionLock, TryLockGivesUpWhileAnotherThreadHoldsIt) {
  CriticalSectionLock lock;
  HolderThread other(&lock);
  EXPECT_FALSE(lock.TryLock(0));
  EXPECT_FALSE(lock.TryLock(20));
}

TEST(CriticalSectionLock, TryLockGetsTheLockOnceTheHolderLetsGo) {
  CriticalSectionLock lock;
  HolderThread other(&lock);
  other.release();
  EXPECT_TRUE(lock.TryLock(60000));
  EXPECT_TRUE(lock.Unlock());
}

// Whether another thread can take `lock` at once (it lets go of it again).
bool FreeForAnotherThread(CriticalSectionLock* lock) {
  bool taken = false;
  std::thread([&] {
    taken = lock->TryLock(0);
    if (taken) lock->Unlock();
  }).join();
  return taken;
}

TEST(ScopedLock, HoldsTheLockForItsScopeOnly) {
  CriticalSectionLock lock;
  {
    const ScopedLock hold(lock);
    EXPECT_FALSE(FreeForAnotherThread(&lock));
  }
  EXPECT_TRUE(FreeForAnotherThread(&lock));

  // Adopted after a TryLock: the one hold this thread took is left once.
  ASSERT_TRUE(lock.TryLock(0));
  {
    const ScopedLock hold(lock, ScopedLock::kAdopt);
    EXPECT_FALSE(FreeForAnotherThread(&lock));
  }
  EXPECT_TRUE(FreeForAnotherThread(&lock));
}

TEST(CriticalSectionLock, WorksThroughTheAbstractInterface) {
  std::unique_ptr<LockInterface> lock = std::make_unique<CriticalSectionLock>();
  EXPECT_TRUE(lock->Lock());
  EXPECT_TRUE(lock->Unlock());
}

}  // namespace
}  // namespace vireo
