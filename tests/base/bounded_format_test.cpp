#include "base/bounded_format.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace vireo {
namespace {

constexpr size_t kSpare = 4;
constexpr wchar_t kUntouched = L'#';

struct FormatCase {
  const char* what;
  size_t capacity;
  const wchar_t* value;  // formatted with "%s"
  const wchar_t* expected;
  bool whole;
};

const FormatCase kFormatCases[] = {
    {"empty text in a buffer of one", 1, L"", L"", true},
    {"one character too many for a buffer of one", 1, L"a", L"", false},
    {"shorter than the room", 8, L"abc", L"abc", true},
    {"exactly the room: whole and terminated", 4, L"abc", L"abc", true},
    {"one over the room: cut to it", 4, L"abcd", L"abc", false},
    {"far over the room", 4, L"abcdefghijklmnop", L"abc", false},
    {"a large room", 1025, L"line", L"line", true},
};

TEST(FormatInto, WritesAtMostTheRoomAndAlwaysTerminates) {
  for (const FormatCase& c : kFormatCases) {
    SCOPED_TRACE(c.what);
    // Stale text in the buffer must not show, and nothing past the capacity
    // may be written.
    std::wstring buffer(c.capacity + kSpare, kUntouched);
    const FormatResult result = FormatInto(&buffer[0], c.capacity, L"%s", c.value);
    EXPECT_EQ(result.whole, c.whole);
    EXPECT_EQ(result.length, std::wstring(c.expected).size());
    EXPECT_EQ(std::wstring(buffer.c_str()), c.expected);
    EXPECT_EQ(buffer.substr(c.capacity), std::wstring(kSpare, kUntouched));
  }
}

TEST(FormatInto, ACapacityOfZeroWritesNothing) {
  wchar_t buffer[2] = {kUntouched, kUntouched};
  const FormatResult result = FormatInto(buffer, 0, L"%s", L"text");
  EXPECT_FALSE(result.whole);
  EXPECT_EQ(result.length, 0u);
  EXPECT_EQ(buffer[0], kUntouched);
}

TEST(FormatInto, TheRuntimesConversionsWideNarrowAndNumbers) {
  wchar_t buffer[64];
  const FormatResult result = FormatInto(buffer, 64, L"[%s][%S][%hs][%d][%u][0x%08x]", L"wide",
                                         "narrow", "short", -5, 7u, 0xBEEFu);
  EXPECT_TRUE(result.whole);
  EXPECT_STREQ(buffer, L"[wide][narrow][short][-5][7][0x0000beef]");
  EXPECT_EQ(result.length, wcslen(buffer));
}

}  // namespace
}  // namespace vireo
