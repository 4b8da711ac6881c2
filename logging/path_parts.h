#pragma once
// A path taken apart: its last component and the folder before it.

#include "base/owned_string.h"

namespace vireo {

// The last component of `path` (the path itself when it has no separator).
WideString GetFileNameFromPath(const wchar_t* path);

// `path` without its last component and the separator before it.
WideString GetDirectoryFromPath(const wchar_t* path);

}  // namespace vireo
