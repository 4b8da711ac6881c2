#pragma once
// What a folder holds, as tests compare it.

#include <string>
#include <vector>

namespace vireo::test {

// Names of the entries of `folder` (without "." and ".."), sorted; none when
// it cannot be listed.
std::vector<std::wstring> ListDirectory(const std::wstring& folder);

}  // namespace vireo::test
