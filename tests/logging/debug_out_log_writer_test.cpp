// The debug-output writer, read back the way a debug-output viewer reads it.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "logging/debug_out_log_writer.h"
#include "logging/log_interface.h"
#include "tests/logging/logging_test_support.h"
#include "tests/support/scratch_folder.h"

namespace vireo {
namespace {

using test::DebugOutput;
using test::LocalLogging;
using test::ScratchFolder;

TEST(DebugOutLogWriter, PrefixMessageAndLineFeedAsOneLine) {
  DebugOutput output;
  ASSERT_TRUE(output.ok());
  DebugOutLogWriter writer;
  EXPECT_FALSE(writer.WritesWhenDisabled());
  EXPECT_FALSE(writer.IsEnabledFor(LC_ALWAYS, LL_FATAL));

  // Around the scratch formatter's 1,024 characters, and far beyond them: the
  // whole line arrives in one piece.
  const std::wstring prefix = L"[12/08/25 21:56:03.123][CorvaneUpdateSetup][812:344]";
  for (size_t length : {0u, 11u, 1022u - 52u, 1023u - 52u, 3000u}) {
    const std::wstring message(length, L'a');
    writer.Write(LogRecord{LC_CORE, LL_ERROR, prefix.c_str(), message.c_str()});
    const auto lines = output.Lines();
    ASSERT_EQ(lines.size(), 1u) << length;
    EXPECT_EQ(lines[0], test::Narrow(prefix + message) + "\n") << length;
  }
}

// Under the defaults the writer takes what the category table passes (level 1
// and more severe), never a "FUNCTION:" line of level 2 that only an enabled
// ETW session would ask for.
TEST(DebugOutLogWriter, TakesOnlyWhatTheCategoryTablePasses) {
  ScratchFolder drive;
  LocalLogging logging(drive.path());
  DebugOutput output;
  ASSERT_TRUE(output.ok());
  logging.Log(LC_UTIL, 2, L"FUNCTION: %s", L"vireo::Tar::ExtractToDir");
  logging.Log(LC_CORE, LL_ERROR, L"CreateUniqueTempDirectory failed err:%d", 5);
  logging.Log(LC_CORE, LL_WARNING, L"warning");
  logging.Log(LC_CORE, 1, L"level one");
  logging.Log(LC_CORE, 2, L"level two");

  std::vector<std::string> messages;
  for (const auto& line : output.Lines()) {
    const size_t end = line.find("][" + std::to_string(GetCurrentProcessId()) + ":");
    if (line.rfind("[", 0) != 0 || end == std::string::npos) continue;
    const size_t message = line.find(']', end + 2) + 1;
    messages.push_back(line.substr(message));
  }
  EXPECT_EQ(messages, (std::vector<std::string>{"CreateUniqueTempDirectory failed err:5\n",
                                                "warning\n", "level one\n"}));
}

}  // namespace
}  // namespace vireo
