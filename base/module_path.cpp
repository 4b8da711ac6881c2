#include "base/module_path.h"

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

}  // namespace vireo
