#pragma once

#include <cstddef>

#include "base/owned_string.h"

namespace vireo {

// Widens narrow text from the thread's ANSI code page (CP_THREAD_ACP).
// Text that cannot be converted yields an empty string.
WideString WidenFromThreadCodePage(const char* text, size_t length);
WideString WidenFromThreadCodePage(const char* text);

}  // namespace vireo
