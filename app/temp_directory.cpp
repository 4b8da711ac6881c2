#include "app/temp_directory.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <utility>

#include "base/path_routines.h"
#include "logging/log_interface.h"

namespace vireo {

namespace {

constexpr HRESULT kSubdirectoryDoesNotFit = static_cast<HRESULT>(0x80040709);

BOOL(WINAPI* is_user_an_admin_for_testing)() = nullptr;
HRESULT(WINAPI* sh_get_folder_path_for_testing)(HWND, int, HANDLE, DWORD, LPWSTR) = nullptr;

struct AdminCandidate {
  int folder_id;
  const wchar_t* subdirectory;
  bool create;
};

// Folders that ordinary users cannot write with the system's default permissions.
constexpr AdminCandidate kAdminCandidates[] = {
    {CSIDL_WINDOWS, L"SystemTemp", false},
    {CSIDL_PROGRAM_FILES, L"CorvaneSoftware\\Temp", true},
};

}  // namespace

bool IsElevatedAdministrator() {
  if (is_user_an_admin_for_testing) return is_user_an_admin_for_testing() != FALSE;
  // Exported by ordinal only on older systems.
  using IsUserAnAdminFunction = BOOL(WINAPI*)();
  const HMODULE shell32 = ::GetModuleHandleW(L"shell32.dll");
  if (!shell32) return false;
  const auto is_user_an_admin = reinterpret_cast<IsUserAnAdminFunction>(
      reinterpret_cast<void*>(::GetProcAddress(shell32, MAKEINTRESOURCEA(680))));
  return is_user_an_admin && is_user_an_admin() != FALSE;
}

void SetIsUserAnAdminForTesting(BOOL(WINAPI* is_user_an_admin)()) {
  is_user_an_admin_for_testing = is_user_an_admin;
}

void SetSHGetFolderPathForTesting(HRESULT(WINAPI* get_folder_path)(HWND, int, HANDLE, DWORD,
                                                                   LPWSTR)) {
  sh_get_folder_path_for_testing = get_folder_path;
}

HRESULT GetFolderPath(int folder_id, WideString* path) {
  wchar_t buffer[MAX_PATH] = {};
  const auto get_folder_path =
      sh_get_folder_path_for_testing ? sh_get_folder_path_for_testing : ::SHGetFolderPathW;
  const HRESULT hr =
      get_folder_path(nullptr, folder_id | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (SUCCEEDED(hr)) {
    path->Assign(buffer);
    return S_OK;
  }

  // The folder is recognised by its low byte, whatever flags ride above it.
  const wchar_t* variable = nullptr;
  switch (folder_id & 0xFF) {
    case CSIDL_PROGRAM_FILES:
      variable = L"ProgramFiles";
      break;
    case CSIDL_LOCAL_APPDATA:
      variable = L"LocalAppData";
      break;
  }
  if (variable) {
    WideString value = ReadEnvironmentVariable(variable);
    if (!value.empty()) {
      *path = std::move(value);
      return S_FALSE;
    }
  }
  path->Clear();
  return hr;
}

HRESULT GetFolderSubdirectory(int folder_id, const wchar_t* subdirectory, bool create,
                              WideString* path) {
  WideString folder;
  const HRESULT hr = GetFolderPath(folder_id | CSIDL_FLAG_CREATE, &folder);
  if (FAILED(hr)) return hr;

  wchar_t joined[MAX_PATH] = {};
  if (folder.length() >= MAX_PATH) return kSubdirectoryDoesNotFit;
  ::lstrcpynW(joined, folder.c_str(), MAX_PATH);
  if (!::PathAppendW(joined, subdirectory)) return kSubdirectoryDoesNotFit;

  path->Assign(joined);
  if (create) CreateDirectoryTree(joined);  // Its result is not needed: the caller probes.
  return S_OK;
}

WideString GetAdminTempRoot() {
  if (!IsElevatedAdministrator()) return WideString();
  for (const AdminCandidate& candidate : kAdminCandidates) {
    WideString path;
    if (FAILED(GetFolderSubdirectory(candidate.folder_id, candidate.subdirectory,
                                     candidate.create, &path))) {
      continue;
    }
    if (!IsDirectory(path.c_str())) continue;
    // A folder that exists but that this process cannot write is passed over.
    const WideString probe = GetTempFileNameIn(path.c_str(), L"PKM");
    if (probe.empty()) continue;
    ::DeleteFileW(probe.c_str());
    return path;
  }
  return WideString();
}

bool CreateUniqueDirectoryIn(const wchar_t* base, WideString* temp_dir) {
  if (!::CreateDirectoryW(base, nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    LogFailedCall(L"CreateDirectory", base);
    return false;
  }
  // The platform creates the name as an empty file, which is what makes it unique
  // between processes; the directory takes its place.
  const WideString name = GetTempFileNameIn(base, L"PKM");
  if (name.empty()) {
    LogFailedCall(L"GetTempFileName", base);
    return false;
  }
  ::DeleteFileW(name.c_str());
  if (!::CreateDirectoryW(name.c_str(), nullptr)) {
    LogFailedCall(L"CreateDirectory", name.c_str());
    return false;
  }
  *temp_dir = name;
  return true;
}

bool CreateUniqueTempDirectory(WorkDirectory* work) {
  WideString temp_dir;
  if (IsElevatedAdministrator()) {
    const WideString root = GetAdminTempRoot();
    if (root.empty()) {
      LogFailedCall(L"GetAdminTempRoot");
      return false;
    }
    if (!CreateUniqueDirectoryIn(root.c_str(), &temp_dir)) return false;
    work->temp_root = root;
  } else {
    wchar_t user_temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, user_temp);
    if (length == 0 || length >= MAX_PATH) {
      LogFailedCall(L"GetTempPath");
      return false;
    }
    if (!CreateUniqueDirectoryIn(user_temp, &temp_dir)) return false;
    work->temp_root.Assign(user_temp, length);
  }
  work->temp_dir = std::move(temp_dir);
  return true;
}

}  // namespace vireo
