#pragma once
// The path of the file behind a loaded module.

#include <windows.h>

#include "base/owned_string.h"

namespace vireo {

// Full path of `module`'s file (null: the executable). The buffer starts at
// MAX_PATH and grows until the whole path fits. Empty when the platform rejects
// the module.
WideString GetModuleFilePath(HMODULE module);

// Reads the path of `module`'s file (null: the executable) into `path` with
// one buffer of MAX_PATH characters, the size of every path the stub hands to
// the platform. True when the path fits. False when GetModuleFileNameW failed
// (`path` is empty) or cut the path, MAX_PATH characters or more (`path` holds
// the cut path); the thread's last error is then the platform's.
bool ReadModulePath(HMODULE module, WideString* path);

}  // namespace vireo
