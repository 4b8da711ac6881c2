#pragma once
// Strings of the stub's own string table, in the language the resource loader
// picks for the thread, read straight from the table's blocks.

#include <windows.h>

#include "base/owned_string.h"

namespace vireo {

// Loads string `id` in the language the resource loader picks for this thread.
// False, with `text` empty, when no module carries a non-empty entry.
bool LoadStringById(UINT id, WideString* text);

// Formats string `id` with FormatMessageW inserts ("%1!s!"). Empty when the
// format text is missing or formatting fails.
WideString FormatStringById(UINT id, const wchar_t* insert);

}  // namespace vireo
