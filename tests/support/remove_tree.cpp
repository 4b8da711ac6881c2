#include "tests/support/remove_tree.h"

#include <windows.h>

#include "tests/support/unix_symbolic_link.h"

namespace vireo::test {
namespace {

std::wstring LongForm(const std::wstring& path) {
  return path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path;
}

bool Listed(const std::wstring& long_path) {
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(long_path.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

void RemoveLink(const std::wstring& path, DWORD attributes) {
  const std::wstring long_path = LongForm(path);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(long_path.c_str());
  } else {
    DeleteFileW(long_path.c_str());
  }
  // Wine removes neither a Unix link to a folder nor a dangling one itself.
  if (Listed(long_path)) RemoveUnixSymbolicLink(path);
}

// `attributes` as the folder's listing reports them: of a link itself, not of
// what it points to.
void RemoveEntry(const std::wstring& path, DWORD attributes) {
  const std::wstring long_path = LongForm(path);
  // A listed entry without attributes of its own is a link whose target is gone.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      GetFileAttributesW(long_path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    RemoveLink(path, attributes);
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(long_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(long_path.c_str());
    return;
  }
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((long_path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") RemoveEntry(path + L"\\" + name, entry.dwFileAttributes);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(long_path.c_str());
}

}  // namespace

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(LongForm(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) RemoveEntry(path, attributes);
}

}  // namespace vireo::test
