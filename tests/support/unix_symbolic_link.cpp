#include "tests/support/unix_symbolic_link.h"

#include <windows.h>

#include <functional>
#include <vector>

#include "tests/support/windows_test_files.h"

namespace vireo::test {
namespace {

// Wine's Unix path for `path` (UTF-8), or empty outside Wine.
std::string UnixPath(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!to_unix) return std::string();
  char* unix_path = to_unix(path.c_str());
  if (!unix_path) return std::string();
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

// The link's own Unix path: its folder's, then its name (asked for the link
// itself, Wine would answer with the path it points to).
std::string UnixPathOfLink(const std::wstring& link) {
  const size_t separator = link.find_last_of(L'\\');
  if (separator == std::wstring::npos) return std::string();
  const std::string folder = UnixPath(link.substr(0, separator));
  return folder.empty() ? folder : folder + "/" + ToUtf8(link.substr(separator + 1));
}

// Starts a Unix program (Wine starts one like any other). Wine hands back no
// process information for it: what it leaves there is whatever lay on its
// stack (in 64-bit programs, values that may name handles of this process),
// so nothing of it is waited for or closed; callers watch for the program's
// effect instead.
bool StartUnixProgram(const std::wstring& program, const std::vector<std::string>& arguments) {
  std::wstring command = program;
  for (const auto& argument : arguments) command += L" \"" + FromUtf8(argument) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  return CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process);
}

// The path that the open `file` has (Wine's answer is where links lead).
std::wstring FinalPath(HANDLE file) {
  std::wstring path(1024, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()), 0);
  if (length >= path.size()) {
    path.resize(length);
    length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()), 0);
  }
  path.resize(length < path.size() ? length : 0);
  return path;
}

// Opens `path` itself, file or folder, only to ask for its attributes.
HANDLE OpenToQuery(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace

bool MakeUnixSymbolicLink(const std::wstring& target, const std::wstring& link) {
  const std::string unix_target = UnixPath(target);
  const std::string unix_link = UnixPathOfLink(link);
  if (unix_target.empty() || unix_link.empty()) return false;
  if (!StartUnixProgram(L"Z:\\bin\\ln", {"-s", unix_target, unix_link})) return false;
  return WaitUntil([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

bool IsUnixSymbolicLink(const std::wstring& path) {
  const size_t separator = path.find_last_of(L'\\');
  if (separator == std::wstring::npos || UnixPath(path).empty()) return false;
  const HANDLE file = OpenToQuery(path);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  const std::wstring final_path = FinalPath(file);
  CloseHandle(file);
  // The folder's own final path, so that drive letters and links above it
  // come out the same on both sides.
  const HANDLE folder = OpenToQuery(path.substr(0, separator));
  if (folder == INVALID_HANDLE_VALUE) return false;
  const std::wstring expected = FinalPath(folder) + path.substr(separator);
  CloseHandle(folder);
  return !final_path.empty() && lstrcmpiW(final_path.c_str(), expected.c_str()) != 0;
}

void RemoveUnixSymbolicLink(const std::wstring& link) {
  const std::string unix_link = UnixPathOfLink(link);
  if (unix_link.empty() || !StartUnixProgram(L"Z:\\bin\\rm", {"-f", unix_link})) return;
  // Gone from its folder's listing (a dangling link has no attributes left).
  WaitUntil([&] {
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW(link.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return true;
    FindClose(find);
    return false;
  });
}

}  // namespace vireo::test
