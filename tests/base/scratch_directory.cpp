#include "tests/base/scratch_directory.h"

namespace vireo::test {

namespace {

std::wstring LongForm(const std::wstring& path) {
  return path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path;
}

void RemoveTree(const std::wstring& path) {
  const std::wstring long_path = LongForm(path);
  const DWORD attributes = GetFileAttributesW(long_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(long_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(long_path.c_str());
    return;
  }
  // A junction or link goes as an entry; what it points to stays.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((long_path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
  }
  RemoveDirectoryW(long_path.c_str());
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  static LONG counter = 0;
  path_ = std::wstring(temp) + L"vireo_base_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(InterlockedIncrement(&counter));
  if (!path_.empty() && path_.back() == L'\\') path_.pop_back();
  RemoveTree(path_);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchDirectory::~ScratchDirectory() { RemoveTree(path_); }

bool CreateEmptyFile(const std::wstring& path) {
  HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace vireo::test
