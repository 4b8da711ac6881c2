#pragma once
// The referral code a stub's file name may carry after a dash
// (CorvaneUpdateSetup-QRS042 (1).exe), and the record of where the stub lies.

#include "base/owned_string.h"

namespace vireo {

// When the stub was started without parameters (an empty `cmdline_tail`), stores
// its full path as "StubInstallerPath" under HKCU "Software\CorvaneSoftware\Promo".
// Failures leave the registry unchanged and are not reported.
void StorePathToRegForPromoCode(const char* cmdline_tail);

// The stub's referral code in capitals when its file name carries a known one;
// "none" otherwise.
WideString GetPromoCode();

// Looks for a code in the file name of `path`: six characters after the last
// dash (three ASCII letters, three digits), or else the letters-and-one-dash text
// after the last-but-one dash. False, with `code` empty, when there is none.
bool ExtractCodeCandidate(const wchar_t* path, WideString* code);

// True when `code` equals an entry of the built-in referral table (exactly,
// case-sensitively).
bool IsKnownPromoCode(const wchar_t* code);

}  // namespace vireo
