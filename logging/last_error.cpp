#include "logging/last_error.h"

namespace vireo {

HRESULT HResultFromLastError() {
  const DWORD error = ::GetLastError();
  if (error == 0) return E_FAIL;
  if (static_cast<LONG>(error) < 0) return static_cast<HRESULT>(error);
  return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

}  // namespace vireo
