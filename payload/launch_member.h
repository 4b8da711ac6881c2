#pragma once
// Which payload member the stub starts, and which name it never starts: the
// first member whose name ends in ".exe", unless that name is the one the stub
// gives its copy of itself in the work directory. The one definition for the
// stub's run (app/meta_installer.cpp) and the packer, which refuses what the
// stub would refuse; portable, so that it builds for the stub and the host
// alike. Letters compare in ASCII case only, as the packer allows nothing else
// in a name.

#include <cstddef>

namespace vireo {

// The name of the stub's copy of itself in the work directory.
constexpr char kStubCopyName[] = "CorvaneUpdateSetup.exe";
// The same name as the stub hands it to Windows.
constexpr wchar_t kStubCopyWideName[] = L"CorvaneUpdateSetup.exe";

namespace launch_member_detail {

template <typename Char>
constexpr unsigned LowerAscii(Char c) {
  const unsigned code =
      sizeof(Char) == 1 ? static_cast<unsigned char>(c) : static_cast<unsigned>(c);
  return code >= 'A' && code <= 'Z' ? code + ('a' - 'A') : code;
}

// True when the `length` characters of `name` equal the `text_length`
// characters of `text`, ASCII letters compared in either case.
template <typename Char>
constexpr bool EqualIgnoringAsciiCase(const Char* name, size_t length, const char* text,
                                      size_t text_length) {
  if (length != text_length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (LowerAscii(name[i]) != LowerAscii(text[i])) return false;
  }
  return true;
}

constexpr bool SameName(const char* narrow, const wchar_t* wide) {
  for (;; ++narrow, ++wide) {
    if (static_cast<unsigned>(*wide) != static_cast<unsigned char>(*narrow)) return false;
    if (!*narrow) return true;
  }
}

}  // namespace launch_member_detail

static_assert(launch_member_detail::SameName(kStubCopyName, kStubCopyWideName),
              "the stub's copy has one name");

// True when the `length` characters of `name` end in ".exe" in any letter
// case after at least one other character: a member the stub would start when
// it comes first. A member named only ".exe" is never started.
template <typename Char>
constexpr bool IsExecutableName(const Char* name, size_t length) {
  constexpr char kExtension[] = ".exe";
  constexpr size_t kExtensionLength = sizeof(kExtension) - 1;
  return length > kExtensionLength &&
         launch_member_detail::EqualIgnoringAsciiCase(name + length - kExtensionLength,
                                                      kExtensionLength, kExtension,
                                                      kExtensionLength);
}

// True when the `length` characters of `name` are, in any letter case, the
// name of the stub's copy of itself: the stub never starts that program, and a
// member of that name is overwritten by the copy before the program starts.
template <typename Char>
constexpr bool IsStubCopyName(const Char* name, size_t length) {
  return launch_member_detail::EqualIgnoringAsciiCase(name, length, kStubCopyName,
                                                      sizeof(kStubCopyName) - 1);
}

}  // namespace vireo
