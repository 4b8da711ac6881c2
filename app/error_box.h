#pragma once
// The localised box that tells the user the installer cannot start. Shown only
// for the two start-up failures; later failures are logged, never shown.

#include <windows.h>

#include "base/owned_string.h"

namespace vireo {

constexpr UINT IDS_COMPANY_NAME = 21128;
constexpr UINT IDS_INSTALLER_TITLE = 21129;
constexpr UINT IDS_INSTALLER_FAILED = 21130;
constexpr UINT IDS_OS_REQUIREMENTS = 21131;

// The result code of a system older than Windows 2000 Service Pack 4.
constexpr HRESULT kOSRequirementsNotMet = static_cast<HRESULT>(0x80040703);

// Shows the box for `result` (the operating-system text for
// kOSRequirementsNotMet, the generic text otherwise) and returns `result`.
HRESULT HandleError(HRESULT result);

// Loads string `id` in the language the resource loader picks for this thread.
// False, with `text` empty, when no module carries a non-empty entry.
bool LoadStringById(UINT id, WideString* text);

// Formats string `id` with FormatMessageW inserts ("%1!s!"). Empty when the
// format text is missing or formatting fails.
WideString FormatStringById(UINT id, const wchar_t* insert);

}  // namespace vireo
