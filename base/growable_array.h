#pragma once
// Array that grows by doubling its capacity, starting from 1. Appending reports
// an allocation failure instead of raising, because the run's file lists must go
// on without the entry; indexing past the end raises kFatalIndexOutOfBounds.

#include <cstddef>
#include <new>
#include <utility>

#include "base/fatal_error.h"
#include "base/heap.h"

namespace vireo {

template <typename T>
class GrowableArray {
 public:
  GrowableArray() = default;
  GrowableArray(const GrowableArray&) = delete;
  GrowableArray& operator=(const GrowableArray&) = delete;
  ~GrowableArray() {
    Clear();
    HeapRelease(items_);
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  T& operator[](size_t index) {
    if (index >= size_) RaiseFatalError(kFatalIndexOutOfBounds);
    return items_[index];
  }
  const T& operator[](size_t index) const {
    if (index >= size_) RaiseFatalError(kFatalIndexOutOfBounds);
    return items_[index];
  }

  // False when the array could not grow; the array is then unchanged.
  bool TryAppend(T value) {
    if (size_ == capacity_ && !Grow()) return false;
    new (&items_[size_]) T(std::move(value));
    ++size_;
    return true;
  }

  void Clear() {
    for (size_t i = 0; i < size_; ++i) items_[i].~T();
    size_ = 0;
  }

 private:
  bool Grow() {
    const size_t capacity = capacity_ == 0 ? 1 : capacity_ * 2;
    if (capacity < capacity_ || capacity > static_cast<size_t>(-1) / sizeof(T)) return false;
    T* grown = static_cast<T*>(HeapAllocate(capacity * sizeof(T)));
    if (!grown) return false;
    for (size_t i = 0; i < size_; ++i) {
      new (&grown[i]) T(std::move(items_[i]));
      items_[i].~T();
    }
    HeapRelease(items_);
    items_ = grown;
    capacity_ = capacity;
    return true;
  }

  T* items_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace vireo
