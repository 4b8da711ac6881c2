#include "base/path_routines.h"

#include <shlwapi.h>

namespace vireo {

WideString GetTempFileNameIn(const wchar_t* directory, const wchar_t* prefix) {
  wchar_t buffer[MAX_PATH] = {};
  // Any non-zero result is success, whatever unique number the platform chose.
  if (::GetTempFileNameW(directory, prefix, 0, buffer) == 0) return WideString();
  // Some implementations return a number even when the file could not be
  // created (a directory that cannot be written); only the created file makes
  // the name ours, and its absence is what a write probe looks for.
  const DWORD error = ::GetLastError();
  if (!FileExists(buffer)) {
    ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_ACCESS_DENIED);
    return WideString();
  }
  return WideString(buffer);
}

bool FileExists(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  return ::GetFileAttributesExW(path, GetFileExInfoStandard, &attributes) != FALSE;
}

bool IsDirectory(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  return ::GetFileAttributesExW(path, GetFileExInfoStandard, &attributes) &&
         (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

HRESULT CreateDirectoryTree(const wchar_t* path) {
  wchar_t canonical[MAX_PATH] = {};
  if (!::PathCanonicalizeW(canonical, path)) return E_FAIL;
  for (wchar_t* c = canonical; *c; ++c) {
    if (*c == L'/') *c = L'\\';
  }

  // Each prefix up to a backslash, then the whole path: "C:", "C:\a", "C:\a\b".
  wchar_t* separator = ::wcschr(canonical, L'\\');
  for (;;) {
    const wchar_t saved = separator ? *separator : L'\0';
    if (separator) *separator = L'\0';
    if (!FileExists(canonical) && !::CreateDirectoryW(canonical, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        return HRESULT_FROM_WIN32(error);
      }
    }
    if (!separator) return S_OK;
    *separator = saved;
    separator = ::wcschr(separator + 1, L'\\');
  }
}

WideString ReadEnvironmentVariable(const wchar_t* name) {
  WideString value;
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return value;
  value.Reserve(size);
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
  // The variable may have changed in between; a value that no longer fits is
  // treated as absent rather than read half.
  value.SetLength(length < size ? length : 0);
  return value;
}

}  // namespace vireo
