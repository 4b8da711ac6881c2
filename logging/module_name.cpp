#include "logging/module_name.h"

#include <shlwapi.h>

#include "base/module_path.h"
#include "logging/log_interface.h"
#include "logging/path_parts.h"

namespace vireo {

WideString GetModuleName(HMODULE module) {
  const WideString path = GetModuleFilePath(module);
  WideString name = GetFileNameFromPath(path.c_str());
  VIREO_LOG(LC_UTIL, LL_DETAIL, L"[GetModuleName][module 0x%08x][path '%s'][name '%s']", module,
            path.c_str(), name.c_str());
  return name;
}

WideString GetModuleNameWithoutExtension(HMODULE module) {
  WideString result = GetModuleName(module);
  ::PathRemoveExtensionW(result.data());
  result.SyncLength();
  VIREO_LOG(LC_UTIL, LL_DETAIL, L"[GetModuleNameWithoutExtension][module 0x%08x][module '%s'][name '%s']",
            module, GetModuleFilePath(module).c_str(), result.c_str());
  return result;
}

}  // namespace vireo
