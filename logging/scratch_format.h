#pragma once
// The scratch formatter of the logging system's own diagnostic lines: three
// rotating process-wide buffers, allocated once.

#include <cstdarg>

namespace vireo {

// Formats into the next of the three buffers (at most 1,024 characters, cut
// as FormatInto cuts) and returns it; the text stays valid until three
// further calls. A fault while formatting yields "sprintf failure". Any
// thread may call it.
const wchar_t* ScratchFormat(const wchar_t* format, ...);
const wchar_t* ScratchFormatVA(const wchar_t* format, va_list args);

// Frees the scratch buffers (run at process exit); a later ScratchFormat
// allocates them again.
void ReleaseScratchFormatBuffers();

}  // namespace vireo
