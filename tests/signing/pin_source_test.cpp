// Where corvane-release reads a token's PIN from: a file only its owner can
// read, or an environment variable that no program it starts inherits.

#include "tools/release/pin_source.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "tests/support/file_bytes.h"
#include "tools/release/release_error.h"

namespace vireo::release {
namespace {

namespace fs = std::filesystem;

class PinSourceTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pin-source-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Write(const std::string& text, fs::perms mode = fs::perms::owner_read |
                                                              fs::perms::owner_write) {
    const fs::path path = folder_ / ("pin-" + std::to_string(++files_));
    test::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
    fs::permissions(path, mode);
    return path.string();
  }

  fs::path folder_;
  int files_ = 0;
};

TEST_F(PinSourceTest, AFileGivesItsFirstLine) {
  const struct {
    std::string text;
    std::string pin;
  } cases[] = {
      {"1234", "1234"},
      {"1234\n", "1234"},
      {"1234\r\n", "1234"},
      {" pass phrase with blanks \n", " pass phrase with blanks "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReadPin(Write(c.text), ""), c.pin);
  }
}

TEST_F(PinSourceTest, RefusesAFileOthersCanReachAnEmptyPinAndMoreThanOneLine) {
  const std::string open_to_group = Write("1234", fs::perms::owner_read | fs::perms::group_read);
  const std::string open_to_all = Write("1234", fs::perms::owner_read | fs::perms::others_read);
  const std::string empty = Write("\n");
  const std::string two_lines = Write("1234\n5678\n");
  const struct {
    std::string file;
    std::string message;
  } cases[] = {
      {open_to_group, "the PIN file '" + open_to_group + "' is open to other users"},
      {open_to_all, "the PIN file '" + open_to_all + "' is open to other users"},
      {empty, "the PIN in '" + empty + "' is empty"},
      {two_lines, "the PIN in '" + two_lines + "' spans more than one line"},
      {(folder_ / "missing").string(), "cannot open the PIN file"},
      {folder_.string(), "the PIN file '" + folder_.string() + "' is not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      ReadPin(c.file, "");
      ADD_FAILURE() << "read";
    } catch (const ReleaseError& refused) {
      EXPECT_EQ(std::string(refused.what()).rfind(c.message, 0), 0u) << refused.what();
    }
  }
}

TEST_F(PinSourceTest, TheEnvironmentVariableIsGoneOnceRead) {
  setenv("CORVANE_PIN_SOURCE_TEST", "4321\n", 1);
  EXPECT_EQ(ReadPin("", "CORVANE_PIN_SOURCE_TEST"), "4321");
  EXPECT_EQ(getenv("CORVANE_PIN_SOURCE_TEST"), nullptr);
  EXPECT_THROW(ReadPin("", "CORVANE_PIN_SOURCE_TEST"), ReleaseError);
  EXPECT_EQ(ReadPin("", ""), "");
}

}  // namespace
}  // namespace vireo::release
