#include "logging/file_operations.h"

#include <winternl.h>

#include <cstddef>

#include "base/heap.h"
#include "base/path_routines.h"
#include "logging/last_error.h"
#include "logging/log_interface.h"

namespace vireo {

namespace {

// The native file calls, in ntdll since Windows NT 3.1: a relative open and a
// rename by handle have no kernel32 form before Windows Vista. The stub
// imports nothing from ntdll, which every process has loaded, so they are
// looked up by name.
using NtCreateFileFunction = LONG(NTAPI*)(HANDLE* file, ACCESS_MASK access,
                                          OBJECT_ATTRIBUTES* attributes, IO_STATUS_BLOCK* status,
                                          LARGE_INTEGER* allocation, ULONG attributes_of_file,
                                          ULONG share, ULONG disposition, ULONG options,
                                          void* extended_attributes, ULONG extended_length);
using NtSetInformationFileFunction = LONG(NTAPI*)(HANDLE file, IO_STATUS_BLOCK* status,
                                                  void* information, ULONG length,
                                                  ULONG information_class);
using RtlNtStatusToDosErrorFunction = ULONG(NTAPI*)(LONG status);

constexpr ULONG kFileRenameInformation = 10;

// FILE_RENAME_INFORMATION, which the SDK keeps in the driver headers.
struct RenameInformation {
  BOOLEAN replace_if_exists;
  HANDLE root_directory;
  ULONG name_bytes;
  WCHAR name[1];
};

template <typename Function>
Function NtdllEntry(const char* name) {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)))
               : nullptr;
}

// The HRESULT of a failed native call, whose Win32 code becomes the thread's
// last error.
HRESULT HResultFromStatus(LONG status) {
  const auto to_dos_error = NtdllEntry<RtlNtStatusToDosErrorFunction>("RtlNtStatusToDosError");
  DWORD error = to_dos_error ? to_dos_error(status) : ERROR_GEN_FAILURE;
  if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
  ::SetLastError(error);
  return HRESULT_FROM_WIN32(error);
}

// A name of one component: no separator, and short enough for the counted
// strings of the native calls.
bool IsPlainName(const wchar_t* name, size_t* length) {
  *length = static_cast<size_t>(::lstrlenW(name));
  if (*length > 32767) return false;
  for (const wchar_t* c = name; *c; ++c) {
    if (*c == L'\\' || *c == L'/') return false;
  }
  return true;
}

}  // namespace

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

HRESULT File::OpenRelative(HANDLE folder, const wchar_t* name, ACCESS_MASK access, DWORD share,
                           DWORD disposition, DWORD options, UniqueFile* file) {
  file->reset();
  size_t length = 0;
  if (!folder || folder == INVALID_HANDLE_VALUE || !name || !IsPlainName(name, &length)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return E_INVALIDARG;
  }
  const auto create = NtdllEntry<NtCreateFileFunction>("NtCreateFile");
  if (!create) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  UNICODE_STRING object_name;
  object_name.Buffer = const_cast<wchar_t*>(name);
  object_name.Length = static_cast<USHORT>(length * sizeof(wchar_t));
  object_name.MaximumLength = object_name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status_block = {};
  HANDLE opened = nullptr;
  const LONG status =
      create(&opened, access | SYNCHRONIZE, &attributes, &status_block, nullptr,
             FILE_ATTRIBUTE_NORMAL, share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT,
             nullptr, 0);
  if (status < 0) return HResultFromStatus(status);
  file->reset(opened);
  return S_OK;
}

HRESULT File::Move(HANDLE file, HANDLE folder, const wchar_t* to_name) {
  size_t length = 0;
  HRESULT hr = E_INVALIDARG;
  const auto set_information = NtdllEntry<NtSetInformationFileFunction>("NtSetInformationFile");
  UniqueFile mover;
  if (!to_name || !IsPlainName(to_name, &length) || length == 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
  } else if (!set_information) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    hr = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  } else if (SUCCEEDED(hr = OpenRelative(file, L"", DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         FILE_OPEN, 0, &mover))) {
    // The same file opened again, for the rename alone: a process that has it
    // open without delete sharing makes this fail, as it would any move.
    const size_t bytes = offsetof(RenameInformation, name) + (length + 1) * sizeof(wchar_t);
    auto* rename = static_cast<RenameInformation*>(HeapAllocate(bytes));
    if (!rename) {
      hr = E_OUTOFMEMORY;
    } else {
      ::ZeroMemory(rename, bytes);
      rename->replace_if_exists = TRUE;
      // Relative to the folder's handle: the new name lands beside the file.
      rename->root_directory = folder;
      rename->name_bytes = static_cast<ULONG>(length * sizeof(wchar_t));
      ::CopyMemory(rename->name, to_name, length * sizeof(wchar_t));
      IO_STATUS_BLOCK status_block = {};
      const LONG status = set_information(mover.get(), &status_block, rename,
                                          static_cast<ULONG>(bytes), kFileRenameInformation);
      HeapRelease(rename);
      if (status >= 0) return S_OK;
      hr = HResultFromStatus(status);
    }
  }
  VIREO_LOG(LC_UTIL, LL_ERROR, L"[File::Move - rename by handle failed][to=%s][replace=%u][0x%x]",
            to_name ? to_name : L"", 1u, hr);
  return hr;
}

}  // namespace vireo
