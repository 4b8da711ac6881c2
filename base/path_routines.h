#pragma once
// Path routines shared by the run and by logging. Every path handed to the
// platform lives in a buffer of MAX_PATH (260) characters; a path that does not
// fit makes the routine fail.

#include <windows.h>

#include "base/owned_string.h"

namespace vireo {

// Creates an empty file with a unique name "<prefix>XXXX.tmp" in `directory` and
// returns its path; empty when GetTempFileNameW returned 0 or did not create
// the file.
WideString GetTempFileNameIn(const wchar_t* directory, const wchar_t* prefix);

// True when the attributes of `path` can be read.
bool FileExists(const wchar_t* path);

// True when the attributes of `path` can be read and mark a directory.
bool IsDirectory(const wchar_t* path);

// Creates `path` and every missing parent, from the top down. Returns S_OK (also
// when everything existed), E_FAIL when the path cannot be canonicalised, or the
// HRESULT of the first directory that could not be created.
HRESULT CreateDirectoryTree(const wchar_t* path);

// The value of an environment variable; empty when it is not set.
WideString ReadEnvironmentVariable(const wchar_t* name);

}  // namespace vireo
