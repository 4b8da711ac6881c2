#pragma once
// The referral code candidate in a stub's file name, as pure text work: the
// stub and the host tools and fuzzers share it.

#include <cstddef>

namespace vireo {

// Looks at the file name of `path` the way the shell's path routines take it
// apart within a MAX_PATH buffer: at most the first 259 characters; the name
// after the last '\\', '/' or ':' that another character other than a slash
// follows; the extension from its last dot, unless a blank or '\\' follows.
// From the name without extension a browser's copy number ("(12)") and then
// trailing blanks go. The code is the six characters after the last dash when
// they are three ASCII letters and three digits; else the text after the
// last-but-one dash when it is ASCII letters and exactly one dash.
// True with the code at path[*code_start, *code_start + *code_length); false,
// with both zero, when there is none.
bool FindCodeCandidate(const wchar_t* path, size_t* code_start, size_t* code_length);

}  // namespace vireo
