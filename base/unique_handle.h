#pragma once
// One small owner per kind of OS handle. The empty value lives in the traits;
// copying is deleted, moving allowed, and releasing keeps GetLastError() intact so
// that a failure can be reported after the owners on its path were cleaned up.

#include <windows.h>

#include <utility>

#include "base/heap.h"

namespace vireo {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type value) : value_(value) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const { return value_; }
  bool is_valid() const { return value_ != Traits::Empty(); }
  explicit operator bool() const { return is_valid(); }

  // Releases the current value (if any) and takes `value`.
  void reset(Type value = Traits::Empty()) {
    if (value_ != Traits::Empty()) {
      const DWORD last_error = ::GetLastError();
      Traits::Close(value_);
      ::SetLastError(last_error);
    }
    value_ = value;
  }

  Type release() {
    Type value = value_;
    value_ = Traits::Empty();
    return value;
  }

  // For out-parameters: releases the current value first.
  Type* put() {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Empty();
};

struct FileHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) { ::CloseHandle(value); }
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static void Close(Type value) { ::CloseHandle(value); }
};

struct MappedViewTraits {
  using Type = const void*;
  static Type Empty() { return nullptr; }
  static void Close(Type value) { ::UnmapViewOfFile(value); }
};

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static void Close(Type value) { ::RegCloseKey(value); }
};

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Empty() { return nullptr; }
  static void Close(Type value) { ::LocalFree(value); }
};

// A block from HeapAllocate (base/heap.h).
struct HeapBlockTraits {
  using Type = void*;
  static Type Empty() { return nullptr; }
  static void Close(Type value) { HeapRelease(value); }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueMappedView = UniqueHandle<MappedViewTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueHeapBlock = UniqueHandle<HeapBlockTraits>;

// Both handles of a created process; the process handle is closed first.
class UniqueProcessInformation {
 public:
  UniqueProcessInformation() = default;
  ~UniqueProcessInformation() { reset(); }
  UniqueProcessInformation(const UniqueProcessInformation&) = delete;
  UniqueProcessInformation& operator=(const UniqueProcessInformation&) = delete;

  PROCESS_INFORMATION* put() {
    reset();
    return &info_;
  }
  HANDLE process() const { return info_.hProcess; }
  HANDLE thread() const { return info_.hThread; }

  void reset() {
    const DWORD last_error = ::GetLastError();
    if (info_.hProcess) ::CloseHandle(info_.hProcess);
    if (info_.hThread) ::CloseHandle(info_.hThread);
    info_ = PROCESS_INFORMATION{};
    ::SetLastError(last_error);
  }

 private:
  PROCESS_INFORMATION info_{};
};

}  // namespace vireo
