#pragma once
// A fresh directory per test under the user's temporary directory, removed
// afterwards with everything in it. Paths may exceed MAX_PATH and may hold
// reparse points, which are removed without following them.

#include <windows.h>

#include <string>

namespace vireo::test {

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Creates an empty file; false when it cannot.
bool CreateEmptyFile(const std::wstring& path);

}  // namespace vireo::test
