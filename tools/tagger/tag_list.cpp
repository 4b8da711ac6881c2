#include "tools/tagger/tag_list.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

namespace vireo::tagger {

namespace {

constexpr size_t kMaxNameLength = 255;
constexpr char kSuffix[] = ".exe";
constexpr size_t kSuffixLength = sizeof(kSuffix) - 1;
// Characters Windows refuses in file names, path separators apart.
constexpr char kWindowsReserved[] = "<>:\"|?*";

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Why `name` cannot be a stub's file name, or empty.
std::string NameProblem(const std::string& name) {
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
    return "the file name \"" + name + "\" holds a path separator; name a file inside the folder";
  }
  if (name.find("..") != std::string::npos) return "the file name \"" + name + "\" holds \"..\"";
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || std::strchr(kWindowsReserved, c)) {
      return "the file name \"" + name + "\" holds a character Windows does not allow or a "
             "byte that is not printable ASCII";
    }
  }
  if (name[0] == '.') return "the file name \"" + name + "\" starts with a dot";
  if (name.size() > kMaxNameLength) {
    return "the file name has " + std::to_string(name.size()) + " bytes; at most " +
           std::to_string(kMaxNameLength) + " are allowed";
  }
  if (name.size() <= kSuffixLength ||
      Lowercase(name.substr(name.size() - kSuffixLength)) != kSuffix) {
    return "the file name \"" + name + "\" does not end in .exe";
  }
  return std::string();
}

}  // namespace

TagList ParseTagList(const std::string& text) {
  TagList list;
  std::map<std::string, size_t> lines_by_name;  // lowercase name, first line
  size_t line_number = 0;
  for (size_t begin = 0; begin < text.size();) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;

    const size_t separator = line.find_first_of(" \t");
    if (separator == 0) {
      list.problems.push_back({line_number,
                               "the line starts with a blank; it must start with the file name, "
                               "then one tab or space, then the tag"});
      continue;
    }
    if (separator == std::string::npos) {
      list.problems.push_back(
          {line_number, "no tag: a line holds the file name, one tab or space, then the tag"});
      continue;
    }
    TagListEntry entry{line_number, line.substr(0, separator), line.substr(separator + 1)};
    const std::string problem = NameProblem(entry.name);
    if (!problem.empty()) {
      list.problems.push_back({line_number, problem});
      continue;
    }
    const auto [first, inserted] = lines_by_name.emplace(Lowercase(entry.name), line_number);
    if (!inserted) {
      list.problems.push_back({line_number, "the file name \"" + entry.name +
                                                "\" is already on line " +
                                                std::to_string(first->second) +
                                                " (names are compared in any letter case)"});
      continue;
    }
    list.entries.push_back(std::move(entry));
  }
  return list;
}

}  // namespace vireo::tagger
