#pragma once
// Removal of a file or folder with everything in it, for the clean-up of test
// programs on Windows and under Wine.

#include <string>

namespace vireo::test {

// Removes `path` and, when it is a folder, everything in it, as far as it can:
// nothing is reported. Paths may exceed MAX_PATH, and read-only files go too.
// A link (a junction, or a Unix symbolic link under Wine) is removed as
// itself, and what it points to stays. Nothing there: nothing done.
//
// Under Wine a link whose target is gone is not listed, so it is not found and
// its folder stays: remove links before what they point to.
void RemoveTree(const std::wstring& path);

}  // namespace vireo::test
