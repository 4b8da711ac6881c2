#pragma once
// The list of stubs that `corvane-tag set-many` writes: one line per stub, a
// file name, one tab or space, and the tag to the end of the line.
//
//   # distributor tags for the spring release
//   CorvaneUpdateSetup-acme.exe<TAB>appguid={...}&appname=Acme&needsadmin=false
//
// Lines end with LF; a CR before it is dropped. Empty lines and lines that
// start with '#' are skipped. The tag is every byte after the separator,
// spaces included, and is checked as `set` checks it. A file name must end in
// ".exe" (any letter case), must not start with a dot, contain "..", a path
// separator, a control character, a byte beyond ASCII or one of <>:"|?*, or
// be longer than 255 bytes, and must not repeat an earlier line's name in any
// letter case (the stubs go to Windows systems).

#include <cstddef>
#include <string>
#include <vector>

namespace vireo::tagger {

struct TagListEntry {
  size_t line = 0;  // from 1
  std::string name;
  std::string tag;
};

struct TagListProblem {
  size_t line = 0;
  std::string message;
};

struct TagList {
  std::vector<TagListEntry> entries;  // the well-formed lines, in order
  std::vector<TagListProblem> problems;  // one per line that is not, in order
};

// Splits `text` into entries and problems of form and file names; the tags
// themselves are not checked here.
TagList ParseTagList(const std::string& text);

}  // namespace vireo::tagger
