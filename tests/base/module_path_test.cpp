#include "base/module_path.h"
#include "logging/module_name.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/scratch_folder.h"

namespace vireo {
namespace {

std::wstring Str(const WideString& text) { return std::wstring(text.c_str(), text.length()); }

std::wstring ModulePathOf(HMODULE module) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

TEST(ModuleNames, OfTheRunningProgram) {
  const std::wstring expected = ModulePathOf(nullptr);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(Str(GetModuleFilePath(nullptr)), expected);
  EXPECT_EQ(Str(GetModuleName(nullptr)), L"base_tests.exe");
  EXPECT_EQ(Str(GetModuleNameWithoutExtension(nullptr)), L"base_tests");
}

TEST(ModuleNames, EmptyForAHandleThePlatformRejects) {
  const auto bogus = reinterpret_cast<HMODULE>(0x10);
  EXPECT_TRUE(GetModuleFilePath(bogus).empty());
  EXPECT_TRUE(GetModuleName(bogus).empty());
  EXPECT_TRUE(GetModuleNameWithoutExtension(bogus).empty());
}

TEST(ModuleNames, APathLongerThanMaxPathComesBackWhole) {
  const char* module_source = std::getenv("CORVANE_TEST_MODULE");
  ASSERT_NE(module_source, nullptr) << "CTest sets CORVANE_TEST_MODULE";
  test::ScratchFolder scratch;
  std::wstring directory = L"\\\\?\\" + scratch.path();
  while (directory.size() < 300) {
    directory += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << GetLastError();
  }
  const std::wstring copy = directory + L"\\two.dots.module.dll";
  const std::wstring source(module_source, module_source + strlen(module_source));
  ASSERT_TRUE(CopyFileW(source.c_str(), copy.c_str(), FALSE)) << GetLastError();

  const HMODULE module = LoadLibraryW(copy.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  const std::wstring expected = ModulePathOf(module);
  EXPECT_GT(expected.size(), 300u);
  EXPECT_EQ(Str(GetModuleFilePath(module)), expected);
  EXPECT_EQ(Str(GetModuleName(module)), L"two.dots.module.dll");
  EXPECT_EQ(Str(GetModuleNameWithoutExtension(module)), L"two.dots.module");
  FreeLibrary(module);
}

}  // namespace
}  // namespace vireo
