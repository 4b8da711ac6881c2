#pragma once
// The command line after a program's own name and the blanks that follow it,
// exactly as it was given, for the small runners that start another program.

namespace vireo {

inline const wchar_t* CommandLineTail(const wchar_t* command_line) {
  const wchar_t* tail = command_line;
  bool quoted = false;
  while (*tail && (quoted || (*tail != L' ' && *tail != L'\t'))) {
    if (*tail == L'"') quoted = !quoted;
    ++tail;
  }
  while (*tail == L' ' || *tail == L'\t') ++tail;
  return tail;
}

}  // namespace vireo
