// Which member the stub starts and which name it never starts, for wide text
// (the stub) and narrow text (the packer) alike.

#include "payload/launch_member.h"

#include <gtest/gtest.h>

#include <string>

namespace vireo {
namespace {

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

struct NameCase {
  const char* name;
  bool executable;
  bool stub_copy;
};

const NameCase kNames[] = {
    {"setup.exe", true, false},
    {"SETUP.EXE", true, false},
    {"a.ExE", true, false},
    {"x.exe", true, false},
    // Only the extension: never started.
    {".exe", false, false},
    {".EXE", false, false},
    {"setup.ex", false, false},
    {"setup.exe.txt", false, false},
    {"setupexe", false, false},
    {"exe", false, false},
    {"setup.exe ", false, false},
    {"", false, false},
    {"CorvaneUpdateSetup.exe", true, true},
    {"corvaneupdatesetup.EXE", true, true},
    {"CORVANEUPDATESETUP.EXE", true, true},
    {"CorvaneUpdateSetup.exe.exe", true, false},
    {"xCorvaneUpdateSetup.exe", true, false},
    {"CorvaneUpdateSetup.ex", false, false},
    {"CorvaneUpdateSetup", false, false},
};

TEST(LaunchMemberTest, NarrowAndWideNamesFollowOneRule) {
  for (const NameCase& c : kNames) {
    const std::string narrow = c.name;
    const std::wstring wide = Widen(narrow);
    EXPECT_EQ(IsExecutableName(narrow.data(), narrow.size()), c.executable) << c.name;
    EXPECT_EQ(IsExecutableName(wide.data(), wide.size()), c.executable) << c.name;
    EXPECT_EQ(IsStubCopyName(narrow.data(), narrow.size()), c.stub_copy) << c.name;
    EXPECT_EQ(IsStubCopyName(wide.data(), wide.size()), c.stub_copy) << c.name;
  }
}

TEST(LaunchMemberTest, OnlyAsciiLettersFoldTheirCase) {
  // U+0130 and U+0131 are no 'i'; bytes above 0x7F are no letters.
  EXPECT_FALSE(IsStubCopyName(L"CorvaneUpdateSet\u0131p.exe", 22));
  EXPECT_FALSE(IsExecutableName(L"setup.\u0130xe", 9));
  const std::string high = "setup.\xC5xe";
  EXPECT_FALSE(IsExecutableName(high.data(), high.size()));
}

TEST(LaunchMemberTest, TheCopysNameIsTheSameInBothWidths) {
  EXPECT_EQ(Widen(kStubCopyName), std::wstring(kStubCopyWideName));
  EXPECT_TRUE(IsStubCopyName(kStubCopyWideName, std::wstring(kStubCopyWideName).size()));
}

}  // namespace
}  // namespace vireo
