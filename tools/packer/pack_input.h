#pragma once
// What goes into a payload: the files of a folder or the members of a tar
// file, checked against everything the stub would refuse or cannot handle.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vireo::packer {

struct PackMember {
  std::string name;
  std::vector<uint8_t> data;
};

// Reads `input`: a folder (its regular top-level files, in byte-wise name
// order) or a tar file (its members, in archive order). Throws PackerError
// listing every problem found: subdirectories, links, special files or
// non-regular tar members, unusable names, duplicate names, no files at all,
// or a tar image of 2 GiB or more.
std::vector<PackMember> ReadPackInput(const std::filesystem::path& input);

// Returns why `name` cannot be a payload member (not ASCII, longer than 100
// bytes, not a plain Windows file name), or an empty string when it can.
std::string MemberNameProblem(const std::string& name);

// Index of the member the stub starts (the first whose name ends in ".exe" in
// any letter case), or -1 when there is none.
int FindLaunchMember(const std::vector<std::string>& names);

}  // namespace vireo::packer
