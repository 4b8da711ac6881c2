#pragma once
// Removal of a file or folder with everything in it, for the clean-up of test
// programs on Windows and under Wine.

#include <string>

namespace vireo::test {

// Removes `path` and, when it is a folder, everything in it, as far as it can:
// nothing is reported. Paths may exceed MAX_PATH. Read-only files go too. A
// link (a junction, or a Unix symbolic link under Wine, dangling or not) is
// removed as itself; what it points to stays. Nothing there: nothing done.
void RemoveTree(const std::wstring& path);

}  // namespace vireo::test
