#include "tag/promo_code.h"

#include <gtest/gtest.h>

namespace vireo {
namespace {

TEST(ExtractCodeCandidate, FileNamesAndTheCodesTheyCarry) {
  struct {
    const wchar_t* path;
    const wchar_t* code;  // null: no code
  } cases[] = {
      {L"C:\\Downloads\\CorvaneUpdateSetup-qrs042 (2).exe", L"qrs042"},
      {L"C:\\Downloads\\CorvaneUpdateSetup-KLM777(1).exe", L"KLM777"},
      {L"x-qrs042 (3).exe", L"qrs042"},
      {L"x-qrs042().exe", L"qrs042"},
      {L"C:\\Downloads\\CorvaneUpdateSetup-XYZ3141.exe", nullptr},
      {L"C:\\Downloads\\Corvane-Update-Setup.exe", L"Update-Setup"},
      {L"C:\\a-b\\CorvaneUpdateSetup.exe", nullptr},  // dashes of the folder do not count
      {L"x-qrs042-1.exe", nullptr},
      {L"x-qrs042.beta.exe", nullptr},
      {L"x-qrs042 (3) (4).exe", nullptr},
      {L"x-qrs04a.exe", nullptr},
      {L"x-12a456.exe", nullptr},
      {L"-abcdef.exe", nullptr},  // only dash first: no form B either
      {L"x--.exe", L"-"},         // form B with both sides empty
      {L"x-ab-.exe", L"ab-"},
      {L".exe", nullptr},
      {L"(5).exe", nullptr},
      {L"x-abc123.tar.exe", nullptr},  // only the last extension is dropped
  };
  for (const auto& c : cases) {
    WideString code(L"stale");
    EXPECT_EQ(ExtractCodeCandidate(c.path, &code), c.code != nullptr) << c.path;
    EXPECT_STREQ(code.c_str(), c.code ? c.code : L"") << c.path;
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
