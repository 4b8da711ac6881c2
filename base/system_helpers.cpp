#include "base/system_helpers.h"

#include <shlwapi.h>

#include <cstdio>
#include <utility>

#include "base/logging/log_interface.h"

namespace vireo {

namespace {

constexpr size_t kFirstFormatCapacity = 256;
constexpr size_t kMaxFormatCapacity = 0x7FFFFFFF;  // STRSAFE_MAX_CCH

constexpr HRESULT kInsufficientBuffer =
    static_cast<HRESULT>(0x8007007A);  // STRSAFE_E_INSUFFICIENT_BUFFER

CreateMutexExWFunction create_mutex_ex = nullptr;
bool (*os_version_check_for_testing)(WORD, WORD) = nullptr;

// StringCchVPrintfW over msvcrt's bounded formatter: at most `count` - 1
// characters and a terminator, the text cut (and terminated) when longer.
HRESULT BoundedVPrintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
  if (count == 0 || count > kMaxFormatCapacity) {
    if (count != 0) buffer[0] = L'\0';
    return E_INVALIDARG;
  }
  const size_t limit = count - 1;
  const int written = _vsnwprintf(buffer, limit, format, args);
  if (written < 0 || static_cast<size_t>(written) > limit) {
    buffer[limit] = L'\0';
    return kInsufficientBuffer;
  }
  // Exactly `limit` characters fit but were left unterminated.
  if (static_cast<size_t>(written) == limit) buffer[limit] = L'\0';
  return S_OK;
}

size_t TextLength(const wchar_t* text) {
  size_t length = 0;
  while (text[length]) ++length;
  return length;
}

}  // namespace

WideString GetModuleFilePath(HMODULE module) {
  WideString path;
  DWORD size = MAX_PATH;
  for (;;) {
    path.Reserve(size);
    const DWORD n = ::GetModuleFileNameW(module, path.data(), size);
    if (n < size) {
      path.SetLength(n);
      return path;
    }
    // A cut path comes back as exactly `size` characters: grow and try again.
    path.SetLength(0);
    size = n + 1;
  }
}

WideString GetModuleName(HMODULE module) {
  const WideString path = GetModuleFilePath(module);
  WideString name = GetFileNameFromPath(path.c_str());
  VIREO_LOG(LC_UTIL, 5, L"[GetModuleName][module 0x%08x][path '%s'][name '%s']", module,
            GetModuleFilePath(module).c_str(), name.c_str());
  return name;
}

WideString GetModuleNameWithoutExtension(HMODULE module) {
  WideString result = GetModuleName(module);
  ::PathRemoveExtensionW(result.data());
  result.SyncLength();
  VIREO_LOG(LC_UTIL, 5, L"[GetModuleNameWithoutExtension][module 0x%08x][module '%s'][name '%s']",
            module, GetModuleFilePath(module).c_str(), result.c_str());
  return result;
}

WideString GetFileNameFromPath(const wchar_t* path) {
  WideString name(path);
  ::PathStripPathW(name.data());
  name.SyncLength();
  return name;
}

WideString GetDirectoryFromPath(const wchar_t* path) {
  WideString directory(path);
  ::PathRemoveFileSpecW(directory.data());
  directory.SyncLength();
  return directory;
}

HRESULT FormatStringVA(WideString* output, const wchar_t* format, va_list args) {
  const size_t format_length = TextLength(format);
  size_t capacity = format_length < kFirstFormatCapacity ? kFirstFormatCapacity : format_length;
  // Formatted aside, so that the output's own text may be one of the values.
  WideString text;
  HRESULT result;
  for (;;) {
    text.Reserve(capacity);
    va_list attempt;
    va_copy(attempt, args);
    // The limit is one less than the buffer holds, so the longest text at a
    // capacity is capacity - 2 characters (254 of 256).
    result = BoundedVPrintf(text.data(), capacity - 1, format, attempt);
    va_end(attempt);
    if (result != kInsufficientBuffer) break;
    if (capacity == kMaxFormatCapacity) {
      result = E_INVALIDARG;
      break;
    }
    capacity = capacity > kMaxFormatCapacity / 2 ? kMaxFormatCapacity : capacity * 2;
  }
  text.SyncLength();
  *output = std::move(text);
  return result;
}

HRESULT FormatString(WideString* output, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const HRESULT result = FormatStringVA(output, format, args);
  va_end(args);
  return result;
}

void AppendFormatString(WideString* output, const wchar_t* format, ...) {
  WideString text;
  va_list args;
  va_start(args, format);
  FormatStringVA(&text, format, args);
  va_end(args);
  output->Append(text);
}

HRESULT HResultFromLastError() {
  const DWORD error = ::GetLastError();
  if (error == 0) return E_FAIL;
  if (static_cast<LONG>(error) < 0) return static_cast<HRESULT>(error);
  return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

bool IsOSVersionAtLeast(WORD major, WORD service_pack_major) {
  if (os_version_check_for_testing) return os_version_check_for_testing(major, service_pack_major);

  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = major;
  version.dwMinorVersion = 0;
  version.wServicePackMajor = service_pack_major;
  version.wServicePackMinor = 0;

  DWORDLONG condition = 0;
  condition = ::VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
  condition = ::VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return ::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                              condition) != FALSE;
}

void ResolveKernel32Entries() {
  if (create_mutex_ex) return;
  // Older systems do not export the function; ask again next time.
  if (!IsOSVersionAtLeast(6, 0)) return;
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return;
  FARPROC found = nullptr;
  if (GetProcAddressLogged(kernel32, "CreateMutexExW", &found)) {
    create_mutex_ex = reinterpret_cast<CreateMutexExWFunction>(reinterpret_cast<void*>(found));
  }
}

CreateMutexExWFunction ResolvedCreateMutexExW() { return create_mutex_ex; }

bool GetProcAddressLogged(HMODULE module, const char* name, FARPROC* place) {
  if (!module || !name || !place) return false;
  *place = ::GetProcAddress(module, name);
  if (!*place && logging_alive) {
    WideString wide_name;
    const int length = ::MultiByteToWideChar(CP_THREAD_ACP, 0, name, -1, nullptr, 0);
    if (length > 0) {
      wide_name.Reserve(static_cast<size_t>(length));
      ::MultiByteToWideChar(CP_THREAD_ACP, 0, name, -1, wide_name.data(), length);
      wide_name.SyncLength();
    }
    VIREO_LOG(LC_UTIL, LL_WARNING, L"[GetProcAddress failed %s]", wide_name.c_str());
  }
  return *place != nullptr;
}

HANDLE CreateSyncMutex(const wchar_t* name, SECURITY_ATTRIBUTES* attributes) {
  ResolveKernel32Entries();
  // Nothing may run after the creation call: the caller reads its last error.
  if (create_mutex_ex)
    return create_mutex_ex(attributes, name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
  return ::CreateMutexW(attributes, FALSE, name);
}

void SetOSVersionCheckForTesting(bool (*is_os_version_at_least)(WORD, WORD)) {
  os_version_check_for_testing = is_os_version_at_least;
}

void ResetKernel32EntriesForTesting() { create_mutex_ex = nullptr; }

}  // namespace vireo
