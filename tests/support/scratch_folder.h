#pragma once
// A fresh, empty folder of a test's own under the user's temporary folder,
// removed with everything in it (see RemoveTree) when it goes out of scope.

#include <string>

namespace vireo::test {

class ScratchFolder {
 public:
  // Makes the folder, named after the test program and its process with a
  // counter (a name left by an earlier process is passed over). Throws
  // std::runtime_error when no folder can be made.
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Without a trailing backslash.
  const std::wstring& path() const { return path_; }
  // `name` (or a relative path) inside the folder.
  std::wstring Child(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

}  // namespace vireo::test
