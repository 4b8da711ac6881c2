#include "app/child_command_line.h"
#include "tag/tag_limits.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace vireo {
namespace {

constexpr char kDefaultTagText[] =
    "appguid={4E1B7C2A-93D5-4F0E-B6A8-2C71D9E05F34}&appname=Corvane-Release&needsadmin=prefers"
    "&ap=corvane";

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring StubPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

struct CommandLineCase {
  const char* what;
  const wchar_t* exe_path;
  const wchar_t* cmdline;
  std::string tag;  // as stamped; empty: no tag
  const wchar_t* promo_code;
  std::wstring expected;
};

class ChildCommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(ChildCommandLineTest, ComposesTheLineTheChildReceives) {
  const CommandLineCase& c = GetParam();
  WideString command_line;
  ASSERT_TRUE(ComposeChildCommandLine(c.exe_path, c.cmdline, NarrowString(c.tag.c_str(), c.tag.size()),
                                      c.promo_code, &command_line));
  EXPECT_EQ(std::wstring(command_line.c_str()), c.expected) << c.what;
}

const std::wstring kExe = L"C:\\Temp\\PKM1A2B.tmp\\setup.exe";
const std::wstring kDefaultQuoted = L"\"" + Widen(kDefaultTagText) + L"&referral=none\"";

INSTANTIATE_TEST_SUITE_P(
    Cases, ChildCommandLineTest,
    ::testing::Values(
        CommandLineCase{"no parameters, default tag", kExe.c_str(), L"", "", L"none",
                        kExe + L" /installsource taggedmi /install " + kDefaultQuoted},
        CommandLineCase{"a path with blanks is quoted whole",
                        L"C:\\Program Files (x86)\\CorvaneSoftware\\Temp\\PKM1A2B.tmp\\setup.exe",
                        L"", "", L"none",
                        L"\"C:\\Program Files (x86)\\CorvaneSoftware\\Temp\\PKM1A2B.tmp\\setup.exe\""
                        L" /installsource taggedmi /install " + kDefaultQuoted},
        CommandLineCase{"stamped tag and referral code", kExe.c_str(), L"", "appguid={X}&appname=Y",
                        L"QRS042",
                        kExe + L" /installsource taggedmi /install \"appguid={X}&appname=Y&referral=QRS042\""},
        CommandLineCase{"tag ending in &silent", kExe.c_str(), L"",
                        std::string(kDefaultTagText) + "&silent", L"none",
                        kExe + L" /silent /install " + kDefaultQuoted},
        CommandLineCase{"&SILENT in capitals counts", kExe.c_str(), L"", "a=b&SILENT", L"none",
                        kExe + L" /silent /install \"a=b&referral=none\""},
        CommandLineCase{"a tag of just &silent leaves no tag parameter", kExe.c_str(), L"",
                        "&silent", L"none", kExe + L" /silent /install"},
        CommandLineCase{"shorter than &silent never matches", kExe.c_str(), L"", "silent",
                        L"none", kExe + L" /installsource taggedmi /install \"silent&referral=none\""},
        CommandLineCase{"parameters pass through; &silent stays in the tag", kExe.c_str(),
                        L"/install \"x y\"", "a=b&silent", L"none",
                        kExe + L" /install \"x y\" \"a=b&silent&referral=none\""},
        CommandLineCase{"a trailing /nomitag drops itself and the tag", kExe.c_str(),
                        L"/install /NoMiTag", "", L"none", kExe + L" /install"},
        CommandLineCase{"a tail of just /nomitag", kExe.c_str(), L"/nomitag", "", L"none", kExe},
        CommandLineCase{"/nomitag in the middle is passed through", kExe.c_str(),
                        L"/nomitag /install", "", L"none",
                        kExe + L" /nomitag /install " + kDefaultQuoted},
        CommandLineCase{"/Recover is not /recover", kExe.c_str(), L"/Recover", "", L"none",
                        kExe + L" /Recover " + kDefaultQuoted}));

TEST(ChildCommandLine, RecoverAppendsTheStubsOwnPath) {
  const std::wstring stub = StubPath();
  struct {
    const wchar_t* cmdline;
    std::wstring expected;
  } cases[] = {
      {L"/recover", kExe + L" /recover \"" + stub + L"\" " + kDefaultQuoted},
      {L"/recoverX", kExe + L" /recoverX \"" + stub + L"\" " + kDefaultQuoted},
      // The path follows the tail, so the line no longer ends in " /nomitag".
      {L"/recover /nomitag", kExe + L" /recover /nomitag \"" + stub + L"\" " + kDefaultQuoted},
  };
  for (const auto& c : cases) {
    WideString command_line;
    ASSERT_TRUE(ComposeChildCommandLine(kExe.c_str(), c.cmdline, "", L"none", &command_line));
    EXPECT_EQ(std::wstring(command_line.c_str()), c.expected) << c.cmdline;
  }
}

TEST(ChildCommandLine, RefusesAPathWithBlanksThatCannotBeQuoted) {
  // 258 characters: PathQuoteSpacesW cannot add two quotes within MAX_PATH.
  std::wstring long_path = L"C:\\Program Files\\" + std::wstring(241 - 4, L'a') + L".exe";
  ASSERT_EQ(long_path.size(), 258u);
  WideString command_line;
  EXPECT_FALSE(ComposeChildCommandLine(long_path.c_str(), L"", "", L"none", &command_line));

  // The same length without a blank needs no quotes and is accepted.
  std::wstring no_blank = L"C:\\ProgramFiles\\" + std::wstring(242 - 4, L'a') + L".exe";
  EXPECT_TRUE(ComposeChildCommandLine(no_blank.c_str(), L"", "", L"none", &command_line));
}

TEST(SafeAppendFormat, CutsTextLongerThanTheScratchBufferAndSaysSo) {
  std::wstring huge(40000, L'x');
  WideString text(L"<");
  EXPECT_FALSE(SafeAppendFormat(&text, L"%s", huge.c_str()));
  EXPECT_EQ(text.length(), 1u + 32765u);
  EXPECT_TRUE(SafeAppendFormat(&text, L"%S|%s", "narrow", L"wide"));
  EXPECT_EQ(std::wstring(text.c_str() + 1 + 32765), L"narrow|wide");
}

TEST(ChildCommandLine, NeverComposesALineTheChildWouldGetCut) {
  const std::wstring exe = L"C:\\Temp\\PKM1A2B.tmp\\setup.exe";
  const std::string longest = "a=" + std::string(kMaxTagLength - 2, 'y');
  WideString command_line;
  // The longest tag the tagger stamps fits even after the longest program path.
  const std::wstring longest_path = L"C:\\" + std::wstring(kMaxChildProgramPathLength - 7, L'p') +
                                    L".exe";
  ASSERT_EQ(longest_path.size(), kMaxChildProgramPathLength);
  ASSERT_TRUE(ComposeChildCommandLine(longest_path.c_str(), L"", longest.c_str(), L"ABC123",
                                      &command_line));
  EXPECT_EQ(command_line.length(), kMaxChildCommandLineLength - 2) << "unquoted path: 2 spare";

  struct {
    const char* what;
    std::string tag;
    std::wstring cmdline;
  } too_long[] = {
      {"a tag longer than one formatted piece", "a=" + std::string(40000, 'y'), L""},
      {"a tag that fits a piece but not the line", "a=" + std::string(32740, 'y'), L""},
      {"a tail that leaves no room for the tag", longest, L"/install " + std::wstring(32000, L't')},
      {"a tail longer than one piece", "", std::wstring(33000, L't')},
  };
  for (const auto& c : too_long) {
    EXPECT_FALSE(ComposeChildCommandLine(exe.c_str(), c.cmdline.c_str(), c.tag.c_str(), L"none",
                                         &command_line))
        << c.what;
  }
}

TEST(StripNomitagSwitch, OnlyATrailingSwitchWithItsBlank) {
  struct {
    const wchar_t* line;
    bool stripped;
    const wchar_t* rest;
  } cases[] = {
      {L"a /nomitag", true, L"a"},
      {L"a /NOMITAG", true, L"a"},
      {L"a/nomitag", false, L"a/nomitag"},
      {L"a /nomitag ", false, L"a /nomitag "},
      {L"/nomitag", false, L"/nomitag"},
  };
  for (const auto& c : cases) {
    WideString line(c.line);
    EXPECT_EQ(StripNomitagSwitch(&line), c.stripped) << c.line;
    EXPECT_STREQ(line.c_str(), c.rest);
  }
}

}  // namespace
}  // namespace vireo
