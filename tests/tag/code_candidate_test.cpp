#include "tag/code_candidate.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/tag/code_candidate_cases.h"

namespace vireo {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(FindCodeCandidate, FileNamesAndTheCodesTheyCarry) {
  for (const auto& c : test::kCodeCandidateCases) {
    const std::wstring path(c.path);
    size_t start = 99, length = 99;
    const bool found = FindCodeCandidate(c.path, &start, &length);
    EXPECT_EQ(found, c.code != nullptr) << Narrow(path);
    if (found) {
      ASSERT_LE(start + length, path.size()) << Narrow(path);
      EXPECT_EQ(path.substr(start, length), std::wstring(c.code)) << Narrow(path);
    } else {
      EXPECT_EQ(start, 0u);
      EXPECT_EQ(length, 0u);
    }
  }
}

// The stub reads its path into a 260-character buffer: what lies beyond the
// first 259 characters is not there to be searched.
TEST(FindCodeCandidate, SearchesOnlyTheFirst259Characters) {
  struct {
    size_t prefix;
    const wchar_t* code;
  } cases[] = {
      {250, L"abc123"},      // the extension cut short to ".e"
      {252, L"abc123"},      // cut right after the code: no extension left
      {253, nullptr},        // cut inside the code
  };
  for (const auto& c : cases) {
    const std::wstring path = L"C:\\" + std::wstring(c.prefix - 3, L'd') + L"-abc123.exe";
    size_t start = 0, length = 0;
    const bool found = FindCodeCandidate(path.c_str(), &start, &length);
    EXPECT_EQ(found, c.code != nullptr) << c.prefix;
    if (found && c.code) {
      EXPECT_EQ(path.substr(start, length), c.code) << c.prefix;
    }
  }
}

}  // namespace
}  // namespace vireo
