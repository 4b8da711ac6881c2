#pragma once
// Which tar member names may become a file directly inside the target
// directory. The payload only ever holds plain file names; anything that could
// leave the directory, name a device, or be silently changed by Windows is
// refused.

#include <cstddef>

namespace vireo {

// True when the `length` characters of `name` are a plain Windows file name:
// not empty; no '/', '\\', ':' (so no drive, root, stream or ".." part); no
// character below 0x20 and none of < > " | ? *; not ending in a dot or blank;
// and not a reserved device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$,
// CONOUT$, and COM/LPT with a superscript digit), in any letter case, alone or
// followed by an extension.
bool IsSafeMemberName(const wchar_t* name, size_t length);

// The same test for narrow text; bytes above 0x7F are taken as ordinary
// characters, so callers that can see a multi-byte code page convert first.
bool IsSafeMemberName(const char* name, size_t length);

}  // namespace vireo
