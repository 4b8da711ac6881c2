#include "base/module_path.h"

#include <shlwapi.h>

#include "base/logging/log_interface.h"
#include "base/path_parts.h"

namespace vireo {

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

bool ReadModulePath(HMODULE module, WideString* path) {
  // Reserved first, so the last error afterwards is the platform's.
  path->Reserve(MAX_PATH);
  const DWORD length = ::GetModuleFileNameW(module, path->data(), MAX_PATH);
  // A cut path may lack its terminator on old systems: keep what fits before it.
  path->SetLength(length < MAX_PATH ? length : MAX_PATH - 1);
  return length > 0 && length < MAX_PATH;
}

WideString GetModuleName(HMODULE module) {
  const WideString path = GetModuleFilePath(module);
  WideString name = GetFileNameFromPath(path.c_str());
  VIREO_LOG(LC_UTIL, 5, L"[GetModuleName][module 0x%08x][path '%s'][name '%s']", module,
            path.c_str(), name.c_str());
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

}  // namespace vireo
