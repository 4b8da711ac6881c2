// How corvane-release runs its outside programs: their exit status, their
// output into a file, a secret given as their input, and a program that is
// not there.

#include "tools/release/run_program.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tools/release/release_error.h"

namespace vireo::release {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(RunProgramTest, StatusOutputAndInput) {
  std::string pattern = (fs::temp_directory_path() / "run-program-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  const std::string report = (folder / "report.txt").string();

  EXPECT_EQ(RunProgram({"sh", "-c", "exit 7"}), 7);
  EXPECT_EQ(RunProgram({"sh", "-c", "kill -TERM $$"}), -1);

  // Both output streams, in order, into the file; the arguments as given.
  EXPECT_EQ(RunProgram({"sh", "-c", "echo \"$1\"; echo two >&2", "sh", "one; $(no shell)"}, report),
            0);
  EXPECT_EQ(ReadText(report), "one; $(no shell)\ntwo\n");

  // The input whole, without a newline added, then its end.
  EXPECT_EQ(RunProgramWithInput({"sh", "-c", "cat; echo '|end'"}, "pass word", report), 0);
  EXPECT_EQ(ReadText(report), "pass word|end\n");
  EXPECT_EQ(RunProgramWithInput({"sh", "-c", "exit 0"}, "unread", report), 0);
  EXPECT_THROW(RunProgramWithInput({"true"}, std::string(1 << 20, 'x')), ReleaseError);

  EXPECT_THROW(RunProgram({"corvane-no-such-program"}), ReleaseError);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace vireo::release
