#pragma once
// Allocation from the process's general heap. Null on failure; callers decide
// whether that is an error to return or a fatal one to raise.

#include <windows.h>

#include <cstddef>

namespace vireo {

inline void* HeapAllocate(size_t bytes) { return ::HeapAlloc(::GetProcessHeap(), 0, bytes); }
inline void HeapRelease(void* block) {
  if (block) ::HeapFree(::GetProcessHeap(), 0, block);
}

// Base of the stub's classes with a virtual destructor: new and delete go to
// the process heap (a new-expression yields null when it is exhausted), never
// to the C++ runtime's allocator, which the stub does not link. A virtual
// destructor brings a deleting one along even for a class never made with new.
struct ProcessHeapObject {
  static void* operator new(size_t size) noexcept { return HeapAllocate(size); }
  static void operator delete(void* block) { HeapRelease(block); }
};

}  // namespace vireo
