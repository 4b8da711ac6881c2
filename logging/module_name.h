#pragma once
// The name of the file behind a loaded module, with and without its extension,
// as the logging code labels its lines and reports; each name is traced in
// LC_UTIL at LL_DETAIL.

#include <windows.h>

#include "base/owned_string.h"

namespace vireo {

// Last component of `module`'s path, e.g. "CorvaneUpdateSetup.exe"; empty on failure.
WideString GetModuleName(HMODULE module);

// GetModuleName without its last extension, e.g. "CorvaneUpdateSetup"; empty on failure.
WideString GetModuleNameWithoutExtension(HMODULE module);

}  // namespace vireo
