#include "logging/clipboard.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/logging/clipboard_text.h"

namespace vireo {
namespace {

using test::ClipboardText;

TEST(CopyTextToClipboard, PutsUnicodeTextOnTheClipboard) {
  CopyTextToClipboard(L"first");
  const std::wstring text = L"Ünïcødé \x4E2D\x6587 line\r\nnext";
  CopyTextToClipboard(text.c_str());
  EXPECT_EQ(ClipboardText(), text);
  CopyTextToClipboard(L"");
  EXPECT_EQ(ClipboardText(), L"");
}

}  // namespace
}  // namespace vireo
