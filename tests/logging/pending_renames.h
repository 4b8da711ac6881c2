#pragma once
// The machine's list of moves pending for the next reboot
// (HKLM "SYSTEM\CurrentControlSet\Control\Session Manager"
// PendingFileRenameOperations), saved by the constructor and put back by the
// destructor, so that a test's scheduled moves never reach a reboot.

#include <windows.h>

#include <string>
#include <vector>

namespace vireo::test {

class PendingRenames {
 public:
  PendingRenames();
  ~PendingRenames();
  PendingRenames(const PendingRenames&) = delete;
  PendingRenames& operator=(const PendingRenames&) = delete;

  // The strings of the list now, and as it was when the object was made.
  std::vector<std::wstring> Read() const;
  const std::vector<std::wstring>& original() const { return original_; }
  // The strings appended since the object was made.
  std::vector<std::wstring> Added() const;
  // Replaces the list with `strings` (an empty list removes the value).
  void Write(const std::vector<std::wstring>& strings) const;

 private:
  std::vector<std::wstring> original_;
  std::vector<BYTE> original_bytes_;
  bool existed_ = false;
};

}  // namespace vireo::test
