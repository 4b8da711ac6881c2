#include "base/file_operations.h"

#include "base/logging/log_interface.h"
#include "base/path_routines.h"
#include "base/system_helpers.h"

namespace vireo {

HRESULT File::IsReparsePoint(const wchar_t* path, bool* is_reparse_point) {
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (::GetFileAttributesExW(path, GetFileExInfoStandard, &attributes)) {
    *is_reparse_point = (attributes.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return S_OK;
  }
  const HRESULT hr = HResultFromLastError();
  VIREO_LOG(LC_UTIL, LL_ERROR, L"[File::IsReparsePoint][::GetFileAttributesEx failed][%s][%#x]",
            path, hr);
  return hr;
}

HRESULT File::Move(const wchar_t* from, const wchar_t* to) {
  if (::MoveFileExW(from, to,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    return S_OK;
  }
  const HRESULT hr = HResultFromLastError();
  VIREO_LOG(LC_UTIL, LL_ERROR, L"[File::Move - MoveFileEx failed][from=%s][to=%s][replace=%u][0x%x]",
            from, to, 1u, hr);
  return hr;
}

HRESULT File::MoveAfterReboot(const wchar_t* from, const wchar_t* to) {
  if (!FileExists(from)) {
    VIREO_LOG(LC_UTIL, LL_WARNING, L"[File::MoveAfterReboot][file doesn't exist][from %s]", from);
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT;
  if (!IsDirectory(from)) flags |= MOVEFILE_REPLACE_EXISTING;
  if (::MoveFileExW(from, to, flags)) return S_OK;
  const HRESULT hr = HResultFromLastError();
  VIREO_LOG(LC_UTIL, LL_ERROR,
            L"[File::MoveAfterReboot][failed to MoveFileEx from '%s' to '%s'][0x%x]", from, to, hr);
  return hr;
}

}  // namespace vireo
