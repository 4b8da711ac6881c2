#pragma once
// The Unicode text on the clipboard, as a test reads it back.

#include <string>

namespace vireo::test {

// The text, or "<clipboard cannot be opened>".
std::wstring ClipboardText();

}  // namespace vireo::test
