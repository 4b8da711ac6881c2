#include "tools/packer/pack_input.h"

#include <algorithm>
#include <map>

#include "payload/launch_member.h"
#include "payload/member_name.h"
#include "payload/tar_header.h"
#include "tools/payload_encoding/gnu_tar_writer.h"
#include "tools/payload_encoding/tar_image_reader.h"
#include "tools/common/file_io.h"
#include "tools/packer/number_format.h"
#include "tools/packer/packer_error.h"

namespace vireo::packer {
namespace fs = std::filesystem;
namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// ASCII letters in lower case, as Windows compares the names the packer allows.
std::string FoldCase(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return name;
}

// All problems of one input, reported together so that one run shows them all.
class Problems {
 public:
  void Add(const std::string& problem) { list_.push_back(problem); }
  void ThrowIfAny(const std::string& input) const {
    if (list_.empty()) return;
    std::string message = "cannot pack " + input + ":";
    for (const std::string& problem : list_) message += "\n  " + problem;
    throw PackerError(message);
  }

 private:
  std::vector<std::string> list_;
};

void CheckNames(const std::vector<std::string>& names, Problems* problems) {
  // Windows file names ignore letter case: two such members would be one file.
  std::map<std::string, std::string> seen;
  for (const std::string& name : names) {
    const std::string problem = MemberNameProblem(name);
    if (!problem.empty()) {
      problems->Add(Quoted(name) + ": " + problem);
      continue;
    }
    const auto [it, inserted] = seen.emplace(FoldCase(name), name);
    if (!inserted) {
      problems->Add(Quoted(name) + ": same file name as " + Quoted(it->second) +
                    " on Windows, where names ignore letter case");
    }
  }
}

void CheckImageSize(const std::vector<uint64_t>& sizes, Problems* problems) {
  if (sizes.empty()) {
    problems->Add("no files to pack");
    return;
  }
  const uint64_t image = GnuTarImageSize(sizes);
  if (image >= kTarPositionLimit) {
    problems->Add("the tar image would be " + WithThousands(image) +
                  " bytes; the stub reads archives below 2 GiB (2,147,483,648 bytes)");
  }
}

std::vector<PackMember> ReadFolder(const fs::path& folder) {
  Problems problems;
  std::vector<std::pair<std::string, uint64_t>> files;
  std::error_code error;
  fs::directory_iterator entries(folder, error);
  if (error) throw PackerError("cannot read folder " + folder.string() + ": " + error.message());
  for (const fs::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    const fs::file_status status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      problems.Add(Quoted(name) + ": is a symbolic link; only regular files can be packed");
    } else if (fs::is_directory(status)) {
      problems.Add(Quoted(name) + ": is a subdirectory; the stub unpacks only top-level files");
    } else if (!fs::is_regular_file(status)) {
      problems.Add(Quoted(name) + ": is not a regular file");
    } else {
      files.emplace_back(name, entry.file_size());
    }
  }
  // Byte-wise order, whatever the locale, so that a folder always packs alike.
  std::sort(files.begin(), files.end());
  std::vector<std::string> names;
  std::vector<uint64_t> sizes;
  for (const auto& [name, size] : files) {
    names.push_back(name);
    sizes.push_back(size);
  }
  CheckNames(names, &problems);
  CheckImageSize(sizes, &problems);
  problems.ThrowIfAny(folder.string());

  std::vector<PackMember> members;
  for (const std::string& name : names) members.push_back({name, tools::ReadWholeFile(folder / name)});
  return members;
}

std::string TypeProblem(char type_flag) {
  switch (type_flag) {
    case '0':
    case '\0':
      return "";
    case '5':
      return "is a directory entry; the stub unpacks only files at the top level";
    case '1':
    case '2':
      return "is a link; only regular files can be packed";
    case 'x':
    case 'g':
      return "is a POSIX extended header; write the archive with tar --format=gnu";
    case 'L':
    case 'K':
      return "is a GNU long-name record; names must fit in 100 bytes";
    default:
      return std::string("is not a regular file (type flag '") + type_flag + "')";
  }
}

}  // namespace

std::vector<PackMember> ReadPackTar(const uint8_t* image, size_t size, const std::string& label) {
  std::vector<TarImageMember> entries;
  std::string error;
  if (!ReadTarImage(image, size, &entries, &error)) {
    throw PackerError("cannot pack " + label + ": not a tar archive the stub can read (" + error +
                      ")");
  }
  Problems problems;
  std::vector<std::string> names;
  std::vector<uint64_t> sizes;
  for (const TarImageMember& entry : entries) {
    const std::string type_problem = TypeProblem(entry.type_flag);
    if (!type_problem.empty()) {
      problems.Add(Quoted(entry.name) + ": " + type_problem);
      continue;
    }
    if (!entry.size_is_plain_octal) {
      problems.Add(Quoted(entry.name) + ": its size field is not plain octal, which the stub cannot read");
      continue;
    }
    names.push_back(entry.name);
    sizes.push_back(entry.size);
  }
  CheckNames(names, &problems);
  CheckImageSize(sizes, &problems);
  problems.ThrowIfAny(label);

  std::vector<PackMember> members;
  for (const TarImageMember& entry : entries) {
    const uint8_t* data = image + entry.data_offset;
    members.push_back({entry.name, std::vector<uint8_t>(data, data + entry.size)});
  }
  return members;
}

std::vector<PackMember> ReadPackInput(const fs::path& input) {
  std::error_code error;
  const fs::file_status status = fs::status(input, error);
  if (error || !fs::exists(status)) {
    throw PackerError("cannot pack " + input.string() + ": no such file or folder");
  }
  if (fs::is_directory(status)) return ReadFolder(input);
  if (fs::is_regular_file(status)) {
    const std::vector<uint8_t> image = tools::ReadWholeFile(input);
    return ReadPackTar(image.data(), image.size(), input.string());
  }
  throw PackerError("cannot pack " + input.string() + ": neither a folder nor a tar file");
}

std::string MemberNameProblem(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.size() > kTarNameFieldSize) return "name longer than 100 bytes (the tar name field)";
  for (char c : name) {
    if (static_cast<unsigned char>(c) > 0x7F) {
      return "name is not ASCII; the stub reads names in the ANSI code page of the machine it "
             "runs on, which differs between machines";
    }
  }
  if (name.find_first_of("/\\") != std::string::npos) {
    return "name has a folder part; the stub writes plain file names only";
  }
  if (!IsSafeMemberName(name.data(), name.size())) {
    return "not a plain Windows file name (no < > : \" | ? * or control characters, no trailing "
           "dot or blank, no device name such as CON, NUL, COM1)";
  }
  return "";
}

bool IsExecutableName(const std::string& name) {
  return vireo::IsExecutableName(name.data(), name.size());
}

int FindLaunchMember(const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (IsExecutableName(names[i])) return static_cast<int>(i);
  }
  return -1;
}

bool IsStubCopyName(const std::string& name) {
  return vireo::IsStubCopyName(name.data(), name.size());
}

std::string LaunchNameProblem(const std::string& name) {
  if (!IsStubCopyName(name)) return "";
  return std::string("the stub copies itself into the work directory as ") + kStubCopyName +
         ", overwriting this program, and never starts its own copy; give the program another "
         "name";
}

}  // namespace vireo::packer
