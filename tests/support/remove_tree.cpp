#include "tests/support/remove_tree.h"

#include <windows.h>

#include "tests/support/unix_symbolic_link.h"

namespace vireo::test {
namespace {

std::wstring LongForm(const std::wstring& path) {
  return path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path;
}

// `attributes` as the folder's listing reports them.
void RemoveEntry(const std::wstring& path, DWORD attributes) {
  // Wine's own calls would remove what a Unix link points to.
  if (IsUnixSymbolicLink(path)) {
    RemoveUnixSymbolicLink(path);
    return;
  }
  // A junction or symbolic link of Windows goes as itself.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveDirectoryW(path.c_str());
    } else {
      DeleteFileW(path.c_str());
    }
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") RemoveEntry(path + L"\\" + name, entry.dwFileAttributes);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

}  // namespace

void RemoveTree(const std::wstring& path) {
  const std::wstring long_path = LongForm(path);
  const DWORD attributes = GetFileAttributesW(long_path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) RemoveEntry(long_path, attributes);
}

}  // namespace vireo::test
