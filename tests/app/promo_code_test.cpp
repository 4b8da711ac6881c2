#include "tag/promo_code.h"

#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "tag/code_candidate.h"
#include "tests/tag/code_candidate_cases.h"

namespace vireo {
namespace {

TEST(ExtractCodeCandidate, FileNamesAndTheCodesTheyCarry) {
  for (const auto& c : test::kCodeCandidateCases) {
    WideString code(L"stale");
    EXPECT_EQ(ExtractCodeCandidate(c.path, &code), c.code != nullptr) << c.path;
    EXPECT_STREQ(code.c_str(), c.code ? c.code : L"") << c.path;
  }
}

// The search as the stub did it with the shell's path routines, kept as the
// reference the pure search must agree with.
bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool ShellCodeCandidate(const wchar_t* path, std::wstring* code) {
  code->clear();
  wchar_t name[MAX_PATH] = {};
  ::lstrcpynW(name, path, MAX_PATH);
  ::PathStripPathW(name);
  ::PathRemoveExtensionW(name);
  size_t length = std::wcslen(name);
  if (length > 0 && name[length - 1] == L')') {
    size_t i = length - 1;
    while (i > 0 && IsDigit(name[i - 1])) --i;
    if (i > 0 && name[i - 1] == L'(') name[length = i - 1] = L'\0';
  }
  while (length > 0 && name[length - 1] == L' ') name[--length] = L'\0';
  if (length == 0) return false;
  const wchar_t* last_dash = std::wcsrchr(name, L'-');
  if (!last_dash) return false;
  const std::wstring tail(last_dash + 1);
  if (tail.size() == 6 && IsLetter(tail[0]) && IsLetter(tail[1]) && IsLetter(tail[2]) &&
      IsDigit(tail[3]) && IsDigit(tail[4]) && IsDigit(tail[5])) {
    *code = tail;
    return true;
  }
  const wchar_t* previous_dash = nullptr;
  for (const wchar_t* c = name; c < last_dash; ++c) {
    if (*c == L'-') previous_dash = c;
  }
  if (!previous_dash) return false;
  int dashes = 0;
  for (const wchar_t* c = previous_dash + 1; *c; ++c) {
    if (*c == L'-') {
      ++dashes;
    } else if (!IsLetter(*c)) {
      return false;
    }
  }
  if (dashes != 1) return false;
  *code = previous_dash + 1;
  return true;
}

// Many generated paths of separators, dots, blanks, dashes and copy numbers,
// some beyond the path buffer: the pure search finds what the shell-based one did.
TEST(FindCodeCandidate, AgreesWithTheShellsPathRoutines) {
  const wchar_t* const pieces[] = {L"\\", L"/",   L":",       L".",   L" ",   L"-",    L"(",
                                   L")",  L"a",   L"7",       L"abc", L"123", L"(2)", L".exe",
                                   L"-",  L"xy-", L"-abc123", L"\xe9"};
  uint32_t state = 12345;
  auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 20000; ++round) {
    std::wstring path;
    if (round % 97 == 0) path.assign(MAX_PATH - 12 + next() % 8, L'q');
    const size_t count = next() % 10;
    for (size_t i = 0; i < count; ++i) path += pieces[next() % (sizeof(pieces) / sizeof(*pieces))];
    std::wstring expected;
    const bool shell_found = ShellCodeCandidate(path.c_str(), &expected);
    size_t start = 0, code_length = 0;
    const bool found = FindCodeCandidate(path.c_str(), &start, &code_length);
    ASSERT_EQ(found, shell_found) << path;
    if (found) {
      ASSERT_EQ(path.substr(start, code_length), expected) << path;
    }
  }
}

TEST(IsKnownPromoCode, ExactAndCaseSensitive) {
  EXPECT_TRUE(IsKnownPromoCode(L"ACS219"));
  EXPECT_TRUE(IsKnownPromoCode(L"AEL001"));
  EXPECT_FALSE(IsKnownPromoCode(L"acs219"));
  EXPECT_FALSE(IsKnownPromoCode(L"ACS21"));
  EXPECT_FALSE(IsKnownPromoCode(L"ACS2199"));
  EXPECT_FALSE(IsKnownPromoCode(L"ZZZ999"));
  EXPECT_FALSE(IsKnownPromoCode(L"none"));
  EXPECT_FALSE(IsKnownPromoCode(L""));
}

TEST(GetPromoCode, ThisProgramsNameCarriesNone) {
  EXPECT_STREQ(GetPromoCode().c_str(), L"none");
}

}  // namespace
}  // namespace vireo
