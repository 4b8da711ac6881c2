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

// The members of the tar image `image[0, size)`, in archive order, checked as
// ReadPackInput checks a tar file; `label` names the input in the message of
// the PackerError it throws.
std::vector<PackMember> ReadPackTar(const uint8_t* image, size_t size, const std::string& label);

// Returns why `name` cannot be a payload member (not ASCII, longer than 100
// bytes, not a plain Windows file name), or an empty string when it can.
std::string MemberNameProblem(const std::string& name);

// True when the stub starts a member named `name` that comes first: the name
// ends in ".exe" in any letter case (payload/launch_member.h).
bool IsExecutableName(const std::string& name);

// Index of the member the stub starts (the first whose name IsExecutableName),
// or -1 when there is none.
int FindLaunchMember(const std::vector<std::string>& names);

// Returns why the stub cannot start a program named `name`, or an empty string
// when it can: the stub copies itself into the work directory as
// "CorvaneUpdateSetup.exe" and never starts that copy, so a program of that
// name (in any letter case) would be overwritten and not run.
std::string LaunchNameProblem(const std::string& name);

// True when `name` is, in any letter case, the name the stub gives its copy of
// itself in the work directory (payload/launch_member.h): a member of that name
// is overwritten by the copy before the program starts.
bool IsStubCopyName(const std::string& name);

}  // namespace vireo::packer
