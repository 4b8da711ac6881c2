#pragma once

#include <windows.h>

#include "base/owned_string.h"

namespace vireo {

// Starts `command_line` (the program is its first token) and waits for it
// without a time limit. When `exit_code` is given, the child's exit code is
// read into it; when the child cannot be created it receives GetLastError().
// True when the child ran and its exit code was read.
bool RunProcessAndWait(const WideString& command_line, DWORD* exit_code);

}  // namespace vireo
