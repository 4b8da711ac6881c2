#include "logging/path_parts.h"

#include <gtest/gtest.h>

#include <string>

namespace vireo {
namespace {

std::wstring Str(const WideString& text) { return std::wstring(text.c_str(), text.length()); }

TEST(PathParts, FileNameAndDirectory) {
  struct Case {
    const wchar_t* path;
    const wchar_t* file_name;
    const wchar_t* directory;
  };
  const Case cases[] = {
      {L"C:\\ProgramData\\CorvaneSoftware\\Update\\Log\\CorvaneUpdate.log", L"CorvaneUpdate.log",
       L"C:\\ProgramData\\CorvaneSoftware\\Update\\Log"},
      {L"CorvaneUpdate.log", L"CorvaneUpdate.log", L""},
      {L"C:\\file.txt", L"file.txt", L"C:\\"},
      {L"", L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Str(GetFileNameFromPath(c.path)), c.file_name);
    EXPECT_EQ(Str(GetDirectoryFromPath(c.path)), c.directory);
  }
}

}  // namespace
}  // namespace vireo
