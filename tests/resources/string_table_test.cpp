// The failure box's string table as it lies in the built stub: every language,
// every entry, read from the stub file with a block parser of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/error_box.h"
#include "app/string_resource.h"
#include "tests/support/wine_path.h"

namespace vireo::test {
namespace {

constexpr UINT kStringsPerBlock = 16;
constexpr WORD kBlockName = IDS_COMPANY_NAME / kStringsPerBlock + 1;
constexpr wchar_t kCompanyName[] = L"VireoCompanyName";
constexpr wchar_t kInsert[] = L"%1!s!";
constexpr LANGID kEnglishUS = 1033;
constexpr LANGID kEnglishUK = 2057;

// Inclusive ranges of UTF-16 code units.
using Script = std::vector<std::pair<wchar_t, wchar_t>>;

// Besides ASCII, the characters each language's texts may use. A text that
// windres decoded in the wrong code page turns into Latin-1 and punctuation
// soup, which falls outside its script.
const Script kLatin = {{0x00B7, 0x00B7}, {0x00C0, 0x024F}, {0x1E00, 0x1EFF}};
const Script kArabic = {{0x0600, 0x06FF}, {0x200C, 0x200C}};
const Script kCyrillic = {{0x0400, 0x04FF}};
const Script kGreek = {{0x0370, 0x03FF}};
const Script kHebrew = {{0x0590, 0x05FF}};
const Script kHan = {{0x3000, 0x303F}, {0x4E00, 0x9FFF}};
const Script kJapanese = {{0x3000, 0x30FF}, {0x4E00, 0x9FFF}};
const Script kHangul = {{0xAC00, 0xD7A3}};
const Script kThai = {{0x0E00, 0x0E7F}};
const Script kDevanagari = {{0x0900, 0x097F}};
const Script kBengali = {{0x0964, 0x0965}, {0x0980, 0x09FF}};
const Script kGujarati = {{0x0A80, 0x0AFF}};
const Script kTamil = {{0x0B80, 0x0BFF}};
const Script kTelugu = {{0x0C00, 0x0C7F}, {0x200C, 0x200C}};
const Script kKannada = {{0x0C80, 0x0CFF}};
const Script kMalayalam = {{0x0D00, 0x0D7F}};
const Script kEthiopic = {{0x1200, 0x137F}};

// The 55 languages the box speaks, as Windows language ids, with their scripts.
const std::map<LANGID, const Script*> kLanguages = {
    {1025, &kArabic},     {1026, &kCyrillic},  {1027, &kLatin},     {1028, &kHan},
    {1029, &kLatin},      {1030, &kLatin},     {1031, &kLatin},     {1032, &kGreek},
    {1033, &kLatin},      {1035, &kLatin},     {1036, &kLatin},     {1037, &kHebrew},
    {1038, &kLatin},      {1039, &kLatin},     {1040, &kLatin},     {1041, &kJapanese},
    {1042, &kHangul},     {1043, &kLatin},     {1044, &kLatin},     {1045, &kLatin},
    {1046, &kLatin},      {1048, &kLatin},     {1049, &kCyrillic},  {1050, &kLatin},
    {1051, &kLatin},      {1053, &kLatin},     {1054, &kThai},      {1055, &kLatin},
    {1056, &kArabic},     {1057, &kLatin},     {1058, &kCyrillic},  {1060, &kLatin},
    {1061, &kLatin},      {1062, &kLatin},     {1063, &kLatin},     {1065, &kArabic},
    {1066, &kLatin},      {1081, &kDevanagari}, {1086, &kLatin},    {1089, &kLatin},
    {1093, &kBengali},    {1095, &kGujarati},  {1097, &kTamil},     {1098, &kTelugu},
    {1099, &kKannada},    {1100, &kMalayalam}, {1102, &kDevanagari}, {1118, &kEthiopic},
    {1124, &kLatin},      {2052, &kHan},       {2057, &kLatin},     {2058, &kLatin},
    {2070, &kLatin},      {3082, &kLatin},     {3098, &kCyrillic},
};

// The four texts of one language, as stored (not formatted).
struct Texts {
  std::wstring company_name;
  std::wstring title;
  std::wstring failed;
  std::wstring os_requirements;
};

// Everything the test reads from the stub file.
struct StubStrings {
  std::wstring error;  // empty when the stub was read
  std::vector<ULONG_PTR> block_names;
  std::vector<LANGID> languages;
  std::map<LANGID, Texts> texts;
};

// The 16 entries of a string-table block: each a 16-bit count of UTF-16 code
// units followed by the units. False when the block ends inside an entry.
bool ParseBlock(const void* data, DWORD size, std::vector<std::wstring>* entries) {
  const auto* unit = static_cast<const WORD*>(data);
  const WORD* end = unit + size / sizeof(WORD);
  entries->clear();
  for (UINT i = 0; i < kStringsPerBlock; ++i) {
    if (unit >= end || *unit > end - unit - 1) return false;
    entries->emplace_back(reinterpret_cast<const wchar_t*>(unit + 1), *unit);
    unit += 1 + *unit;
  }
  return true;
}

BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<LANGID>*>(languages)->push_back(language);
  return TRUE;
}

StubStrings ReadStubStrings() {
  StubStrings read;
  const std::wstring stub = PathFromEnvironment("CORVANE_STUB");
  if (stub.empty()) {
    read.error = L"CORVANE_STUB names no stub";
    return read;
  }
  // As data only: the stub's code must not run, nor its imports load.
  const HMODULE module = LoadLibraryExW(
      stub.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) {
    read.error = L"cannot load " + stub + L" as data: error " + std::to_wstring(GetLastError());
    return read;
  }
  EnumResourceNamesW(module, RT_STRING, AddName, reinterpret_cast<LONG_PTR>(&read.block_names));
  EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(kBlockName), AddLanguage,
                         reinterpret_cast<LONG_PTR>(&read.languages));
  for (LANGID language : read.languages) {
    const HRSRC resource =
        FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(kBlockName), language);
    const HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    std::vector<std::wstring> entries;
    if (!data || !ParseBlock(data, SizeofResource(module, resource), &entries)) {
      read.error = L"malformed block in language " + std::to_wstring(language);
      break;
    }
    auto entry = [&entries](UINT id) { return entries[id % kStringsPerBlock]; };
    read.texts[language] = {entry(IDS_COMPANY_NAME), entry(IDS_INSTALLER_TITLE),
                            entry(IDS_INSTALLER_FAILED), entry(IDS_OS_REQUIREMENTS)};
  }
  FreeLibrary(module);
  return read;
}

const StubStrings& Stub() {
  static const StubStrings read = ReadStubStrings();
  return read;
}

size_t CountOf(const std::wstring& text, const std::wstring& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// `format` formatted as the box formats it, with the company name as insert.
std::wstring Format(const std::wstring& format) {
  DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(kCompanyName)};
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      format.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&buffer), 0,
      reinterpret_cast<va_list*>(inserts));
  const std::wstring formatted =
      length ? std::wstring(buffer, length)
             : L"<FormatMessageW failed: error " + std::to_wstring(GetLastError()) + L">";
  LocalFree(buffer);
  return formatted;
}

// `format` with its one insert replaced by hand, for comparison with Format().
std::wstring Substituted(std::wstring format) {
  const size_t at = format.find(kInsert);
  if (at != std::wstring::npos) format.replace(at, wcslen(kInsert), kCompanyName);
  return format;
}

// The first character of `text` outside ASCII and `script`, or 0.
wchar_t ForeignCharacter(const std::wstring& text, const Script& script) {
  for (wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F) continue;
    bool inside = false;
    for (const auto& range : script) inside = inside || (c >= range.first && c <= range.second);
    if (!inside) return c;
  }
  return 0;
}

bool HasScriptCharacter(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c >= 0x80) return true;
  }
  return false;
}

class StringTable : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Stub().error, L""); }
};

TEST_F(StringTable, OneBlockInExactlyTheFiftyFiveLanguages) {
  EXPECT_EQ(Stub().block_names, std::vector<ULONG_PTR>{kBlockName});
  std::set<LANGID> expected;
  for (const auto& language : kLanguages) expected.insert(language.first);
  const std::set<LANGID> found(Stub().languages.begin(), Stub().languages.end());
  EXPECT_EQ(found.size(), Stub().languages.size()) << "a language is listed twice";
  // A language-neutral copy (0) would show up here as an extra language.
  EXPECT_EQ(found, expected);
}

TEST_F(StringTable, EveryLanguageHasAllFourTextsWithTheirInserts) {
  for (const auto& [language, texts] : Stub().texts) {
    SCOPED_TRACE(testing::Message() << "language " << language);
    EXPECT_EQ(texts.company_name, kCompanyName);
    EXPECT_FALSE(texts.title.empty());
    EXPECT_FALSE(texts.failed.empty());
    EXPECT_FALSE(texts.os_requirements.empty());
    EXPECT_EQ(CountOf(texts.title, kInsert), 1u);
    EXPECT_EQ(CountOf(texts.os_requirements, kInsert), 1u);
    EXPECT_EQ(CountOf(texts.failed, L"%"), 0u);
    EXPECT_EQ(CountOf(texts.os_requirements, L"Windows 2000"), 1u);
  }
}

TEST_F(StringTable, TitlesAndRequirementsFormatWithTheCompanyNameAndNothingElse) {
  for (const auto& [language, texts] : Stub().texts) {
    SCOPED_TRACE(testing::Message() << "language " << language);
    // Any other "%" sequence or a broken insert would make these differ.
    EXPECT_EQ(Format(texts.title), Substituted(texts.title));
    EXPECT_EQ(Format(texts.os_requirements), Substituted(texts.os_requirements));
    EXPECT_EQ(CountOf(Format(texts.title), kCompanyName), 1u);
  }
}

TEST_F(StringTable, EveryLanguageButBritishEnglishIsTranslated) {
  const auto english = Stub().texts.find(kEnglishUS);
  ASSERT_NE(english, Stub().texts.end());
  for (const auto& [language, texts] : Stub().texts) {
    if (language == kEnglishUS) continue;
    SCOPED_TRACE(testing::Message() << "language " << language);
    if (language == kEnglishUK) {
      EXPECT_EQ(texts.title, english->second.title);
      EXPECT_EQ(texts.failed, english->second.failed);
      EXPECT_EQ(texts.os_requirements, english->second.os_requirements);
      continue;
    }
    EXPECT_NE(texts.title, english->second.title);
    EXPECT_NE(texts.failed, english->second.failed);
    EXPECT_NE(texts.os_requirements, english->second.os_requirements);
  }
}

TEST_F(StringTable, TextsArriveInTheirOwnScript) {
  for (const auto& [language, texts] : Stub().texts) {
    SCOPED_TRACE(testing::Message() << "language " << language);
    const auto script = kLanguages.find(language);
    ASSERT_NE(script, kLanguages.end());
    for (const std::wstring* text : {&texts.title, &texts.failed, &texts.os_requirements}) {
      EXPECT_EQ(ForeignCharacter(*text, *script->second), 0) << "in \"" << *text << "\"";
      if (script->second != &kLatin) {
        EXPECT_TRUE(HasScriptCharacter(*text));
      }
    }
  }
}

TEST_F(StringTable, SpotChecksOfFormattedTexts) {
  struct {
    LANGID language;
    std::wstring title;
    std::wstring text;  // the operating-system text, or the generic one where noted
    bool generic;
  } cases[] = {
      {1033, L"VireoCompanyName Installer",
       L"Installation failed. VireoCompanyName Installer requires Windows 2000 Service Pack 4 "
       L"or better.",
       false},
      {1033, L"VireoCompanyName Installer", L"Unknown Installer Error", true},
      {1031, L"VireoCompanyName-Installer",
       L"Die Installation ist fehlgeschlagen. Der VireoCompanyName-Installer erfordert "
       L"Windows 2000 Service Pack 4 oder höher.",
       false},
      {1036, L"Programme d'installation VireoCompanyName",
       L"Erreur inconnue du programme d'installation", true},
      // Code units written out: the exact UTF-16 that windres must produce.
      {1041, L"VireoCompanyName \u30A4\u30F3\u30B9\u30C8\u30FC\u30E9\u30FC",
       L"\u4E0D\u660E\u306A\u30A4\u30F3\u30B9\u30C8\u30FC\u30E9\u30FC \u30A8\u30E9\u30FC", true},
      {1049, L"Установщик VireoCompanyName",
       L"Сбой установки. Для установщика VireoCompanyName требуется Windows 2000 с пакетом "
       L"обновления 4 (SP4) или более поздняя версия.",
       false},
      {1025, L"برنامج تثبيت VireoCompanyName", L"خطأ غير معروف في برنامج التثبيت", true},
      {1037, L"תוכנית ההתקנה של VireoCompanyName",
       L"ההתקנה נכשלה. תוכנית ההתקנה של VireoCompanyName דורשת Windows 2000 Service Pack 4 או "
       L"גרסה חדשה יותר.",
       false},
      {1066, L"Trình cài đặt VireoCompanyName", L"Lỗi trình cài đặt không xác định", true},
      {3098, L"Инсталациони програм за VireoCompanyName",
       L"Непозната грешка инсталационог програма", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "language " << c.language);
    const auto texts = Stub().texts.find(c.language);
    ASSERT_NE(texts, Stub().texts.end());
    EXPECT_EQ(Format(texts->second.title), c.title);
    EXPECT_EQ(c.generic ? texts->second.failed : Format(texts->second.os_requirements), c.text);
  }
}

}  // namespace
}  // namespace vireo::test
