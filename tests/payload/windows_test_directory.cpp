#include "tests/payload/windows_test_directory.h"

#include <algorithm>
#include <stdexcept>

namespace vireo::test {
namespace {

void RemoveTree(const std::wstring& directory) {
  for (const std::wstring& name : ListDirectory(directory)) {
    const std::wstring path = directory + L"\\" + name;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      RemoveTree(path);
    } else {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(path.c_str());
    }
  }
  ::RemoveDirectoryW(directory.c_str());
}

}  // namespace

TestDirectory::TestDirectory() {
  wchar_t temp[MAX_PATH];
  const DWORD length = ::GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) throw std::runtime_error("GetTempPathW failed");
  static unsigned counter = 0;
  for (;;) {
    path_ = std::wstring(temp) + L"payload-test-" + std::to_wstring(::GetCurrentProcessId()) +
            L"-" + std::to_wstring(++counter);
    if (::CreateDirectoryW(path_.c_str(), nullptr)) return;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("CreateDirectoryW failed");
  }
}

TestDirectory::~TestDirectory() { RemoveTree(path_); }

std::vector<std::wstring> ListDirectory(const std::wstring& directory) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW((directory + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<uint8_t> ReadWholeFile(const std::wstring& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a file to read");
  std::vector<uint8_t> bytes(::GetFileSize(file, nullptr));
  DWORD read = 0;
  const BOOL ok = bytes.empty() ||
                  ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  ::CloseHandle(file);
  if (!ok || (!bytes.empty() && read != bytes.size())) throw std::runtime_error("short read");
  return bytes;
}

void WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  const HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a file");
  DWORD written = 0;
  const BOOL ok = bytes.empty() || ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                               &written, nullptr);
  ::CloseHandle(file);
  if (!ok || written != bytes.size()) throw std::runtime_error("short write");
}

}  // namespace vireo::test
