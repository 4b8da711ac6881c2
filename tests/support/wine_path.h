#pragma once
// Test programs under Wine get paths of the build tree from CTest as Unix paths;
// Wine shows the Unix root as drive Z:.

#include <windows.h>

#include <cstdlib>
#include <string>

namespace vireo::test {

inline std::wstring WindowsPathFromUnix(const std::string& unix_path) {
  std::wstring path;
  if (!unix_path.empty() && unix_path[0] == '/') path = L"Z:";
  for (char c : unix_path) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return path;
}

// The Windows path held by environment variable `name` (a Unix or Windows
// path), or empty when it is not set.
inline std::wstring PathFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? WindowsPathFromUnix(value) : std::wstring();
}

}  // namespace vireo::test
