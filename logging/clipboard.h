#pragma once
// Text for the user to paste elsewhere.

#include <windows.h>

namespace vireo {

// Puts `text` on the clipboard as Unicode text; does nothing when the clipboard
// cannot be opened.
void CopyTextToClipboard(const wchar_t* text);

}  // namespace vireo
