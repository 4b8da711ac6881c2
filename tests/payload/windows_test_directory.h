#pragma once
// A fresh directory per test under the user's temporary directory, removed
// with everything in it afterwards, and whole-file helpers on wide paths.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vireo::test {

class TestDirectory {
 public:
  TestDirectory();
  ~TestDirectory();
  TestDirectory(const TestDirectory&) = delete;
  TestDirectory& operator=(const TestDirectory&) = delete;

  const std::wstring& path() const { return path_; }
  // `name` inside the directory.
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Names of the entries of `directory` (without "." and ".."), sorted.
std::vector<std::wstring> ListDirectory(const std::wstring& directory);

bool FileExists(const std::wstring& path);
std::vector<uint8_t> ReadWholeFile(const std::wstring& path);
void WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);

}  // namespace vireo::test
