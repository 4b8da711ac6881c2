#include "tag/promo_code.h"

#include <windows.h>

#include <cwchar>

#include "base/module_path.h"
#include "base/text_conversion.h"
#include "base/unique_handle.h"
#include "logging/log_interface.h"
#include "tag/code_candidate.h"

namespace vireo {

namespace {

#include "referral_codes.inc"

constexpr wchar_t kPromoKey[] = L"Software\\CorvaneSoftware\\Promo";
constexpr wchar_t kStubInstallerPathValue[] = L"StubInstallerPath";
constexpr wchar_t kNoPromoCode[] = L"none";

}  // namespace

void StorePathToRegForPromoCode(const char* cmdline_tail) {
  VIREO_LOG_FUNCTION(L"vireo::`anonymous-namespace'");
  // Any parameter at all means the stub was not started by a double-click.
  if (!WidenFromThreadCodePage(cmdline_tail).empty()) return;

  WideString path;
  if (!ReadModulePath(nullptr, &path)) return;

  UniqueRegistryKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kPromoKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  ::RegSetValueExW(key.get(), kStubInstallerPathValue, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.length() + 1) * sizeof(wchar_t)));
}

WideString GetPromoCode() {
  WideString path;
  if (!ReadModulePath(nullptr, &path)) return WideString(kNoPromoCode);

  WideString code;
  if (!ExtractCodeCandidate(path.c_str(), &code)) return WideString(kNoPromoCode);
  ::CharUpperBuffW(code.data(), static_cast<DWORD>(code.length()));
  return IsKnownPromoCode(code.c_str()) ? code : WideString(kNoPromoCode);
}

bool ExtractCodeCandidate(const wchar_t* path, WideString* code) {
  code->Clear();
  size_t start = 0;
  size_t length = 0;
  if (!FindCodeCandidate(path, &start, &length)) return false;
  code->Assign(path + start, length);
  return true;
}

bool IsKnownPromoCode(const wchar_t* code) {
  for (const auto& known : kReferralCodes) {
    if (std::wcscmp(code, known) == 0) return true;
  }
  return false;
}

}  // namespace vireo
