#pragma once
// Unix symbolic links made, recognised and removed from a Windows test program
// under Wine. Wine shows a Unix symbolic link to a folder as a reparse point,
// one to a file as a plain file, and one whose target is gone not at all; its
// CreateSymbolicLinkW makes nothing, and its DeleteFileW and RemoveDirectoryW
// remove what a link points to and leave the link. So the Unix `ln` and `rm`
// do it: Wine starts them like any program. Elsewhere (no Unix path for a
// Windows path) nothing is made, recognised or removed.

#include <string>

namespace vireo::test {

// Links `link` to `target`. True once the link is there.
bool MakeUnixSymbolicLink(const std::wstring& target, const std::wstring& link);

// Whether `path` is listed in its folder but is a Unix symbolic link: it opens
// as another path than its folder's and its own name, or not at all (the
// target is gone). False outside Wine.
bool IsUnixSymbolicLink(const std::wstring& path);

// Removes such a link, never what it points to, and waits until it is gone
// from its folder's listing (at most about 10 s). Given a plain file, removes
// the file.
void RemoveUnixSymbolicLink(const std::wstring& link);

// A link for the scope: declare it after the folder it points to, so that it
// goes first (a dangling link no longer shows in its folder's listing).
class ScopedUnixSymbolicLink {
 public:
  ScopedUnixSymbolicLink(const std::wstring& target, const std::wstring& link)
      : link_(link), made_(MakeUnixSymbolicLink(target, link)) {}
  ~ScopedUnixSymbolicLink() { RemoveUnixSymbolicLink(link_); }
  ScopedUnixSymbolicLink(const ScopedUnixSymbolicLink&) = delete;
  ScopedUnixSymbolicLink& operator=(const ScopedUnixSymbolicLink&) = delete;
  bool made() const { return made_; }

 private:
  std::wstring link_;
  bool made_;
};

}  // namespace vireo::test
