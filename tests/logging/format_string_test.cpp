#include "logging/format_string.h"

#include <gtest/gtest.h>

#include <string>

namespace vireo {
namespace {

std::wstring Str(const WideString& text) { return std::wstring(text.c_str(), text.length()); }

TEST(FormatString, GrowsByDoublingWhenTheTextDoesNotFit) {
  struct Case {
    size_t length;
    size_t capacity;
  };
  // The longest text at a capacity is two characters shorter than it.
  const Case cases[] = {{0, 256}, {254, 256}, {255, 512}, {510, 512}, {511, 1024}, {5000, 8192}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::wstring text(c.length, L'x');
    WideString output(L"previous text");
    EXPECT_EQ(FormatString(&output, L"%s", text.c_str()), S_OK);
    EXPECT_EQ(Str(output), text);
    EXPECT_EQ(output.capacity(), c.capacity);
  }
}

TEST(FormatString, StartsAtTheFormatsLengthForALongFormat) {
  const std::wstring format(300, L'f');
  WideString output;
  EXPECT_EQ(FormatString(&output, format.c_str()), S_OK);
  EXPECT_EQ(Str(output), format);
  EXPECT_EQ(output.capacity(), 600u);  // 300 fits only 298 characters.
}

TEST(FormatString, TheOutputsOwnTextMayBeAValue) {
  WideString output(std::wstring(300, L'a').c_str());
  EXPECT_EQ(FormatString(&output, L"%s|%s", output.c_str(), output.c_str()), S_OK);
  EXPECT_EQ(Str(output), std::wstring(300, L'a') + L"|" + std::wstring(300, L'a'));
}

TEST(FormatString, WideAndNarrowArguments) {
  WideString output;
  EXPECT_EQ(
      FormatString(&output, L"[%s][%S][%hs][%d][0x%08x]", L"wide", "narrow", "short", -5, 0xBEEF),
      S_OK);
  EXPECT_EQ(Str(output), L"[wide][narrow][short][-5][0x0000beef]");
}

TEST(AppendFormatString, AppendsToWhatIsThere) {
  WideString output(L"prefix ");
  AppendFormatString(&output, L"%d-%s", 7, L"seven");
  AppendFormatString(&output, L"%s", std::wstring(600, L'y').c_str());
  EXPECT_EQ(Str(output), L"prefix 7-seven" + std::wstring(600, L'y'));
}

}  // namespace
}  // namespace vireo
