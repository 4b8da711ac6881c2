#pragma once
// Looking up an entry point that the running system may lack.

#include <windows.h>

namespace vireo {

// Stores GetProcAddress(module, name) in *place and returns whether it was
// found (logged as a warning when not). False, with *place untouched, when any
// argument is null.
bool GetProcAddressLogged(HMODULE module, const char* name, FARPROC* place);

}  // namespace vireo
