#pragma once
// The thread's last error as an HRESULT.

#include <windows.h>

namespace vireo {

// E_FAIL for 0, a Win32 HRESULT for a positive code, a negative code unchanged.
HRESULT HResultFromLastError();

}  // namespace vireo
