#pragma once
// The string, array and security classes do not return errors: a failure there
// raises a non-continuable structured exception with one of these codes.

#include <windows.h>

namespace vireo {

constexpr DWORD kFatalAllocationFailure = 0xC0000017;  // STATUS_NO_MEMORY
constexpr DWORD kFatalIndexOutOfBounds = 0xC000008C;   // STATUS_ARRAY_BOUNDS_EXCEEDED
constexpr DWORD kFatalInvalidOperation = 0xC000001D;   // STATUS_ILLEGAL_INSTRUCTION

// Raises `code` as a non-continuable structured exception; never returns.
[[noreturn]] void RaiseFatalError(DWORD code);

}  // namespace vireo
