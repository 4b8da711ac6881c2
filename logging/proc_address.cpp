#include "logging/proc_address.h"

#include "base/text_conversion.h"
#include "logging/log_interface.h"

namespace vireo {

bool GetProcAddressLogged(HMODULE module, const char* name, FARPROC* place) {
  if (!module || !name || !place) return false;
  *place = ::GetProcAddress(module, name);
  if (!*place && logging_alive) {
    VIREO_LOG(LC_UTIL, LL_WARNING, L"[GetProcAddress failed %s]",
              WidenFromThreadCodePage(name).c_str());
  }
  return *place != nullptr;
}

}  // namespace vireo
