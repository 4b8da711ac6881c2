#pragma once
// String that owns its buffer, for UTF-16 (WideString) and narrow text
// (NarrowString). Failures raise (see fatal_error.h): an allocation failure as
// kFatalAllocationFailure, an index past the end as kFatalIndexOutOfBounds.
// The text is always terminated.

#include <cstddef>
#include <cstring>

#include "base/fatal_error.h"
#include "base/heap.h"

namespace vireo {

template <typename Char>
class OwnedString {
 public:
  OwnedString() = default;
  OwnedString(const Char* text) { Assign(text); }  // NOLINT: implicit from literals is intended.
  OwnedString(const Char* text, size_t length) { Assign(text, length); }
  OwnedString(const OwnedString& other) { Assign(other.c_str(), other.length()); }
  OwnedString(OwnedString&& other) noexcept
      : buffer_(other.buffer_), length_(other.length_), capacity_(other.capacity_) {
    other.buffer_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }
  OwnedString& operator=(const OwnedString& other) {
    if (this != &other) Assign(other.c_str(), other.length());
    return *this;
  }
  OwnedString& operator=(OwnedString&& other) noexcept {
    if (this != &other) {
      HeapRelease(buffer_);
      buffer_ = other.buffer_;
      length_ = other.length_;
      capacity_ = other.capacity_;
      other.buffer_ = nullptr;
      other.length_ = other.capacity_ = 0;
    }
    return *this;
  }
  ~OwnedString() { HeapRelease(buffer_); }

  // Never null: an empty string yields an empty text.
  const Char* c_str() const { return buffer_ ? buffer_ : kEmpty; }
  size_t length() const { return length_; }
  bool empty() const { return length_ == 0; }
  size_t capacity() const { return capacity_; }

  Char operator[](size_t index) const {
    if (index >= length_) RaiseFatalError(kFatalIndexOutOfBounds);
    return buffer_[index];
  }

  void Assign(const Char* text, size_t length) {
    // Text inside our own buffer fits without growing; Append moves it safely.
    length_ = 0;
    if (buffer_) buffer_[0] = Char();
    Append(text, length);
  }
  void Assign(const Char* text) { Assign(text, LengthOf(text)); }

  void Append(const Char* text, size_t length) {
    if (length > kMaxCapacity - length_) RaiseFatalError(kFatalAllocationFailure);
    const size_t needed = length_ + length;
    if (needed > capacity_ || !buffer_) {
      size_t grown = capacity_ < 15 ? 15 : capacity_;
      while (grown < needed) grown = grown > kMaxCapacity / 2 ? kMaxCapacity : grown * 2;
      if (buffer_ && text >= buffer_ && text <= buffer_ + capacity_) {
        OwnedString copy(text, length);
        Reserve(grown);
        std::memcpy(buffer_ + length_, copy.buffer_, length * sizeof(Char));
      } else {
        Reserve(grown);
        if (length) std::memcpy(buffer_ + length_, text, length * sizeof(Char));
      }
    } else if (length) {
      std::memmove(buffer_ + length_, text, length * sizeof(Char));
    }
    length_ = needed;
    buffer_[length_] = Char();
  }
  void Append(const Char* text) { Append(text, LengthOf(text)); }
  void Append(const OwnedString& text) { Append(text.c_str(), text.length()); }
  void Append(Char c) { Append(&c, 1); }

  // Makes room for at least `capacity` characters plus the terminator.
  void Reserve(size_t capacity) {
    if (buffer_ && capacity <= capacity_) return;
    if (capacity > kMaxCapacity) RaiseFatalError(kFatalAllocationFailure);
    auto* grown = static_cast<Char*>(HeapAllocate((capacity + 1) * sizeof(Char)));
    if (!grown) RaiseFatalError(kFatalAllocationFailure);
    if (buffer_) std::memcpy(grown, buffer_, length_ * sizeof(Char));
    grown[length_] = Char();
    HeapRelease(buffer_);
    buffer_ = grown;
    capacity_ = capacity;
  }

  // Writable buffer of capacity() + 1 characters. After writing into it, call
  // SetLength, or SyncLength for text terminated in place.
  Char* data() {
    if (!buffer_) Reserve(15);
    return buffer_;
  }
  void SetLength(size_t length) {
    if (!buffer_ || length > capacity_) RaiseFatalError(kFatalIndexOutOfBounds);
    length_ = length;
    buffer_[length_] = Char();
  }
  void SyncLength() {
    if (!buffer_) return;
    buffer_[capacity_] = Char();
    length_ = LengthOf(buffer_);
  }
  // Keeps the first `length` characters (no effect when already shorter).
  void Truncate(size_t length) {
    if (length < length_) {
      length_ = length;
      buffer_[length_] = Char();
    }
  }
  void Clear() { Truncate(0); }

 private:
  static constexpr size_t kMaxCapacity = (static_cast<size_t>(-1) / sizeof(Char)) / 2;
  static constexpr Char kEmpty[1] = {};

  static size_t LengthOf(const Char* text) {
    size_t length = 0;
    if (text) {
      while (text[length]) ++length;
    }
    return length;
  }

  Char* buffer_ = nullptr;
  size_t length_ = 0;
  size_t capacity_ = 0;
};

using WideString = OwnedString<wchar_t>;
using NarrowString = OwnedString<char>;

}  // namespace vireo
