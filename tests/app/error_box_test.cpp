#include "app/error_box.h"
#include "app/string_resource.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace vireo {
namespace {

// This test program carries the stub's string table; Wine's user interface
// language here is English.
TEST(ErrorBoxStrings, LoadAndFormatTheEnglishTexts) {
  WideString company;
  ASSERT_TRUE(LoadStringById(IDS_COMPANY_NAME, &company));
  EXPECT_STREQ(company.c_str(), L"VireoCompanyName");
  EXPECT_STREQ(FormatStringById(IDS_INSTALLER_TITLE, company.c_str()).c_str(),
               L"VireoCompanyName Installer");
  EXPECT_STREQ(FormatStringById(IDS_OS_REQUIREMENTS, company.c_str()).c_str(),
               L"Installation failed. VireoCompanyName Installer requires Windows 2000 Service "
               L"Pack 4 or better.");
  WideString failed;
  ASSERT_TRUE(LoadStringById(IDS_INSTALLER_FAILED, &failed));
  EXPECT_STREQ(failed.c_str(), L"Unknown Installer Error");
}

TEST(ErrorBoxStrings, MissingEntriesLoadNothing) {
  WideString text(L"previous");
  // Same block as the four texts, but an empty entry; and a block that does not exist.
  EXPECT_FALSE(LoadStringById(21127, &text));
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(LoadStringById(60000, &text));
  EXPECT_TRUE(FormatStringById(60000, L"x").empty());
  // A missing company name leaves the insert empty.
  EXPECT_STREQ(FormatStringById(IDS_INSTALLER_TITLE, L"").c_str(), L" Installer");
}

}  // namespace
}  // namespace vireo
