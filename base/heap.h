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

}  // namespace vireo
