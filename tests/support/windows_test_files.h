#pragma once
// Small file helpers for Windows test programs.

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace vireo::test {

inline bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadFileText(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
  std::wstring wide(count, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
  return wide;
}

inline std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int count = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(count, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], count,
                      nullptr, nullptr);
  return utf8;
}

// A unique file name in the user's temporary directory (the file does not exist).
inline std::wstring UniqueTempPath(const wchar_t* prefix) {
  wchar_t temp[MAX_PATH] = {};
  wchar_t name[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  GetTempFileNameW(temp, prefix, 0, name);
  DeleteFileW(name);
  return name;
}

}  // namespace vireo::test
