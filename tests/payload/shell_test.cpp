#include "tests/payload/shell_test.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

namespace vireo::test {

namespace fs = std::filesystem;

std::string ShellQuote(const std::string& argument) {
  std::string quoted = "'";
  for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void ShellTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "corvane-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
}

void ShellTest::TearDown() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

}  // namespace vireo::test
