#include "tag/promo_code.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>

#include "base/logging/log_interface.h"
#include "base/text_conversion.h"
#include "base/unique_handle.h"

namespace vireo {

namespace {

#include "referral_codes.inc"

constexpr wchar_t kPromoKey[] = L"Software\\CorvaneSoftware\\Promo";
constexpr wchar_t kStubInstallerPathValue[] = L"StubInstallerPath";
constexpr wchar_t kNoPromoCode[] = L"none";

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Form A: exactly three ASCII letters and three digits.
bool IsLettersThenDigits(const wchar_t* text) {
  if (std::wcslen(text) != 6) return false;
  for (int i = 0; i < 3; ++i) {
    if (!IsAsciiLetter(text[i]) || !IsAsciiDigit(text[i + 3])) return false;
  }
  return true;
}

// Form B: ASCII letters and exactly one dash, the last one.
bool IsLettersAroundOneDash(const wchar_t* text) {
  int dashes = 0;
  for (const wchar_t* c = text; *c; ++c) {
    if (*c == L'-') {
      ++dashes;
    } else if (!IsAsciiLetter(*c)) {
      return false;
    }
  }
  return dashes == 1;
}

}  // namespace

void StorePathToRegForPromoCode(const char* cmdline_tail) {
  VIREO_LOG_FUNCTION(L"vireo::`anonymous-namespace'::StorePathToRegForPromoCode");
  // Any parameter at all means the stub was not started by a double-click.
  if (!WidenFromThreadCodePage(cmdline_tail).empty()) return;

  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;

  UniqueRegistryKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kPromoKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  ::RegSetValueExW(key.get(), kStubInstallerPathValue, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(path), (length + 1) * sizeof(wchar_t));
}

WideString GetPromoCode() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return WideString(kNoPromoCode);

  WideString code;
  if (!ExtractCodeCandidate(path, &code)) return WideString(kNoPromoCode);
  ::CharUpperBuffW(code.data(), static_cast<DWORD>(code.length()));
  return IsKnownPromoCode(code.c_str()) ? code : WideString(kNoPromoCode);
}

bool ExtractCodeCandidate(const wchar_t* path, WideString* code) {
  code->Clear();
  wchar_t name[MAX_PATH] = {};
  ::lstrcpynW(name, path, MAX_PATH);
  ::PathStripPathW(name);
  ::PathRemoveExtensionW(name);

  // A browser's copy number: "x (12)" becomes "x ", "x()" becomes "x".
  size_t length = std::wcslen(name);
  if (length > 0 && name[length - 1] == L')') {
    size_t i = length - 1;
    while (i > 0 && IsAsciiDigit(name[i - 1])) --i;
    if (i > 0 && name[i - 1] == L'(') {
      length = i - 1;
      name[length] = L'\0';
    }
  }
  while (length > 0 && name[length - 1] == L' ') name[--length] = L'\0';
  if (length == 0) return false;

  wchar_t* last_dash = std::wcsrchr(name, L'-');
  if (last_dash && IsLettersThenDigits(last_dash + 1)) {
    code->Assign(last_dash + 1);
    return true;
  }
  if (!last_dash) return false;

  wchar_t* previous_dash = nullptr;
  for (wchar_t* c = name; c < last_dash; ++c) {
    if (*c == L'-') previous_dash = c;
  }
  if (!previous_dash || !IsLettersAroundOneDash(previous_dash + 1)) return false;
  code->Assign(previous_dash + 1);
  return true;
}

bool IsKnownPromoCode(const wchar_t* code) {
  for (const auto& known : kReferralCodes) {
    if (std::wcscmp(code, known) == 0) return true;
  }
  return false;
}

}  // namespace vireo
