#pragma once
// For host tests that run programs through the shell: a fresh folder for each
// test, arguments quoted for the shell, and whole text files read back.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace vireo::test {

// `argument` as one shell word, whatever it holds.
std::string ShellQuote(const std::string& argument);

// Every byte of `path` as text; empty when it cannot be read.
std::string ReadText(const std::filesystem::path& path);

// Each test gets a fresh folder, root_, removed after it.
class ShellTest : public testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path root_;
};

}  // namespace vireo::test
