#pragma once
// The localised box that tells the user the installer cannot start. Shown only
// for the two start-up failures; later failures are logged, never shown.

#include <windows.h>

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

}  // namespace vireo
