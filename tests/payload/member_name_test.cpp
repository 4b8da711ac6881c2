// Which member names may become a file inside the target directory, for wide
// text (the stub) and narrow text (the packer) alike.

#include "payload/member_name.h"

#include <gtest/gtest.h>

#include <string>

namespace vireo {
namespace {

bool Safe(const std::string& name) { return IsSafeMemberName(name.data(), name.size()); }
bool SafeWide(const std::wstring& name) { return IsSafeMemberName(name.data(), name.size()); }
std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(MemberNameTest, AcceptsPlainFileNames) {
  for (const std::string name :
       {"setup.exe", "a", "readme.txt", ".hidden", "with space.dll", "x..y", "CONSOLE.exe",
        "con1.txt", "COM10", "LPT", "nul_device", "auxiliary.dat", "com1x.txt", "a+b=c;d,e[f]~g"}) {
    EXPECT_TRUE(Safe(name)) << name;
    EXPECT_TRUE(SafeWide(Widen(name))) << name;
  }
  EXPECT_TRUE(SafeWide(L"\u00FCbersicht.txt"));
  EXPECT_TRUE(SafeWide(L"\u30BB\u30C3\u30C8\u30A2\u30C3\u30D7.exe"));
  EXPECT_TRUE(Safe(std::string(100, 'a')));
}

TEST(MemberNameTest, RefusesNamesThatLeaveTheDirectoryOrChangeOnWindows) {
  const std::string refused[] = {
      "",
      ".",
      "..",
      "...",
      "../setup.exe",
      "..\\setup.exe",
      "dir/file.txt",
      "dir\\file.txt",
      "/etc/passwd",
      "\\file",
      "\\\\server\\share\\file",
      "C:setup.exe",
      "C:\\Windows\\setup.exe",
      "file.txt:stream",
      "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b",
      std::string("tab\there"),
      std::string("new\nline"),
      std::string("\x1f" "unit"),
      "trailing.",
      "trailing ",
      "setup.exe.",
      "setup.exe ",
      // Device names, in any case, with or without an extension.
      "CON", "con", "Con.txt", "PRN", "prn.log", "AUX", "aux.c", "NUL", "nul.txt", "NUL.tar.gz",
      "COM1", "com9.txt", "COM0", "LPT1", "lpt5.dat", "LPT9", "CONIN$", "conout$.txt",
      "nul .txt", "CON  ",
  };
  for (const std::string& name : refused) {
    EXPECT_FALSE(Safe(name)) << "\"" << name << "\"";
    EXPECT_FALSE(SafeWide(Widen(name))) << "\"" << name << "\"";
  }
  // Windows also reserves COM and LPT with a superscript digit.
  EXPECT_FALSE(SafeWide(L"COM\u00B9"));
  EXPECT_FALSE(SafeWide(L"lpt\u00B2.txt"));
  EXPECT_FALSE(SafeWide(L"LPT\u00B3"));
  // A double-byte character whose trail byte is '\\' in the narrow text is one
  // character once widened, but a real backslash in wide text is refused.
  EXPECT_FALSE(SafeWide(L"\u8868\\x.txt"));
  EXPECT_TRUE(SafeWide(L"\u8868x.txt"));
  EXPECT_FALSE(IsSafeMemberName(static_cast<const char*>(nullptr), 0));
}

TEST(MemberNameTest, LooksOnlyAtTheGivenLength) {
  EXPECT_TRUE(IsSafeMemberName("setup.exe/x", 9));
  EXPECT_FALSE(IsSafeMemberName("setup.exe/x", 11));
  EXPECT_FALSE(IsSafeMemberName("setup.", 6));
  EXPECT_TRUE(IsSafeMemberName("setup.", 5));
  EXPECT_FALSE(IsSafeMemberName("a/b", 3));
  EXPECT_TRUE(IsSafeMemberName("a/b", 1));
}

}  // namespace
}  // namespace vireo
