// The logging of the real stub: copies of the built stub run under Wine with
// and without the ini file at the system drive's root.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/debug_output_capture.h"
#include "tests/e2e/stub_runner.h"
#include "tests/logging/logging_test_support.h"
#include "tests/support/scratch_folder.h"

namespace vireo {
namespace {

using test::DebugOutputCapture;
using test::ScopedProductLogFile;
using test::StubRunner;

constexpr const wchar_t* kIniPath = L"C:\\CorvaneUpdate.ini";

// The ini file at the root of the prefix's system drive, for the scope.
class ScopedSystemIni {
 public:
  explicit ScopedSystemIni(const std::string& text) { test::WriteText(kIniPath, text); }
  ~ScopedSystemIni() { DeleteFileW(kIniPath); }
};

class StubLogging : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(log_.removed()) << "another program holds " << test::Narrow(log_.path())
                                << " open; run no other tests in this Wine prefix meanwhile";
  }

  // The messages of the stub's lines ("[MM/DD/YY hh:mm:ss.mmm][CorvaneUpdateSetup][pid:tid]"
  // then the message), each with its process id. Every line of the stub must
  // have that form; lines of other programs that share the file are skipped.
  std::vector<std::pair<std::wstring, std::wstring>> StubMessages(bool wide = true) {
    static const std::wregex line_form(
        LR"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d\d\]\[CorvaneUpdateSetup\]\[(\d+):\d+\](.*))");
    std::vector<std::pair<std::wstring, std::wstring>> messages;
    for (const auto& line : test::ReadLogLines(log_.path(), wide)) {
      if (line.find(L"[CorvaneUpdateSetup][") == std::wstring::npos) continue;
      std::wsmatch match;
      EXPECT_TRUE(std::regex_match(line, match, line_form)) << test::Narrow(line);
      if (match.size() == 3) messages.emplace_back(match[1], match[2]);
    }
    return messages;
  }

  StubRunner runner_;
  ScopedProductLogFile log_;
};

TEST_F(StubLogging, LogToFileWritesTheSharedLogFile) {
  ScopedSystemIni ini("[LoggingSettings]\r\nLogToFile=1\r\n[LoggingLevel]\r\nLC_UTIL=2\r\nLC_CORE=2\r\n");
  const std::wstring stub = runner_.PrepareStub(L"CorvaneUpdateSetup.exe");
  EXPECT_EQ(runner_.Run(stub, L"/install").exit_code, 0u);

  ASSERT_TRUE(test::PathExists(log_.path()));
  const std::vector<uint8_t> bytes = test::ReadBytes(log_.path());
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);

  const auto messages = StubMessages();
  auto has = [&](const std::wstring& start) {
    for (const auto& message : messages) {
      if (message.second.rfind(start, 0) == 0) return true;
    }
    return false;
  };
  EXPECT_TRUE(has(L"mi enter cmdline:/install"));
  // Every operation entry line of a successful run, as stored logs show them.
  for (const wchar_t* line :
       {L"FUNCTION: vireo::`anonymous-namespace'::StorePathToRegForPromoCode",
        L"FUNCTION: vireo::`anonymous-namespace'::MetaInstaller::ExtractAndRun",
        L"FUNCTION: vireo::Tar::ExtractToDir",
        L"FUNCTION: vireo::`anonymous-namespace'::MetaInstaller::CopyMetainstallerToTempLocation",
        L"FUNCTION: vireo::`anonymous-namespace'::ReadTag"}) {
    EXPECT_TRUE(has(line)) << line;
  }
  EXPECT_TRUE(has(L"command_line:"));
}

// The log's folders, when the stub makes them, are the administrators' (with
// an explicit DACL that Wine keeps, and shows), never readable and writable by
// everyone as a folder made with the default DACL would be.
TEST_F(StubLogging, LogFoldersTheStubMakesAreNotOpenToEveryone) {
  log_.RemoveEmptyFolders();
  const std::wstring folder = log_.path().substr(0, log_.path().rfind(L'\\'));
  ASSERT_FALSE(test::PathExists(folder)) << "the log folder holds other files";
  ScopedSystemIni ini("[LoggingSettings]\r\nLogToFile=1\r\n[LoggingLevel]\r\nLC_CORE=2\r\n");
  const std::wstring stub = runner_.PrepareStub(L"CorvaneUpdateSetup.exe");
  EXPECT_EQ(runner_.Run(stub, L"/install").exit_code, 0u);
  ASSERT_TRUE(test::PathExists(log_.path()));
  EXPECT_FALSE(test::GrantsEveryone(folder));
}

// A second name for another file in the log's place (planted by someone who
// could write to the log folder): the stub writes no line into that file,
// runs as usual, and leaves both names as they were.
TEST_F(StubLogging, LogFileWithASecondNameIsLeftAlone) {
  {
    // A first run makes the log's folders as the stub makes them.
    ScopedSystemIni ini("[LoggingSettings]\r\nLogToFile=1\r\n[LoggingLevel]\r\nLC_CORE=2\r\n");
    EXPECT_EQ(runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe"), L"/install").exit_code, 0u);
  }
  ASSERT_TRUE(DeleteFileW(log_.path().c_str())) << GetLastError();
  test::ScratchFolder elsewhere;
  const std::wstring other = elsewhere.Child(L"win.ini");
  const std::string precious = "[fonts]\r\n[extensions]\r\n[mci extensions]\r\n";
  test::WriteText(other, precious);
  ASSERT_TRUE(CreateHardLinkW(log_.path().c_str(), other.c_str(), nullptr)) << GetLastError();

  ScopedSystemIni ini("[LoggingSettings]\r\nLogToFile=1\r\n[LoggingLevel]\r\nLC_CORE=2\r\n");
  EXPECT_EQ(runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe"), L"/install").exit_code, 0u);
  EXPECT_EQ(test::ReadBytes(other), std::vector<uint8_t>(precious.begin(), precious.end()));
  EXPECT_EQ(test::ReadBytes(log_.path()), std::vector<uint8_t>(precious.begin(), precious.end()));
  EXPECT_FALSE(test::PathExists(log_.path() + L".bak"));
  DeleteFileW(log_.path().c_str());
}

// Stubs started together share the file through its mutex: each one's lines
// arrive whole, and none is lost.
TEST_F(StubLogging, StubsRunningTogetherShareTheLogFile) {
  ScopedSystemIni ini("[LoggingSettings]\r\nLogToFile=1\r\n[LoggingLevel]\r\nLC_CORE=2\r\n");
  const std::wstring stub = runner_.PrepareStub(L"CorvaneUpdateSetup.exe");
  const auto runs = runner_.RunTogether({stub, stub, stub}, {});
  for (const auto& run : runs) EXPECT_EQ(run.exit_code, 0u);

  std::set<std::wstring> processes_entered;
  for (const auto& [process, message] : StubMessages()) {
    if (message == L"mi enter cmdline:") processes_entered.insert(process);
  }
  EXPECT_EQ(processes_entered.size(), 3u);
}

TEST_F(StubLogging, LogFileInEightBitText) {
  ScopedSystemIni ini("[LoggingSettings]\r\nLogToFile=1\r\nLogFileWide=0\r\n[LoggingLevel]\r\nLC_CORE=2\r\n");
  const std::wstring stub = runner_.PrepareStub(L"CorvaneUpdateSetup.exe");
  EXPECT_EQ(runner_.Run(stub, L"/install").exit_code, 0u);
  const std::vector<uint8_t> bytes = test::ReadBytes(log_.path());
  ASSERT_GE(bytes.size(), 1u);
  EXPECT_EQ(bytes[0], '[');
  bool entered = false;
  for (const auto& [process, message] : StubMessages(false)) {
    entered |= message == L"mi enter cmdline:/install";
  }
  EXPECT_TRUE(entered);
}

// Without an ini file the file log is off: the debugger output shows the
// start-up and configuration traces, and no line of level 2.
TEST_F(StubLogging, WithoutIniOnlyTheDebuggerOutput) {
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.ok());
  const std::wstring stub = runner_.PrepareStub(L"CorvaneUpdateSetup.exe");
  EXPECT_EQ(runner_.Run(stub, L"/install").exit_code, 0u);
  // No file, or (when another program of the product made one meanwhile) not
  // one line of the stub in it.
  if (test::PathExists(log_.path())) {
    EXPECT_TRUE(StubMessages().empty());
  }

  // The stub's lines are those of the process that wrote "mi enter cmdline:".
  const auto lines = capture.Lines();
  DWORD stub_process = 0;
  for (const auto& line : lines) {
    if (line.text.find("] mi enter cmdline:/install\n") != std::string::npos) {
      stub_process = line.process_id;
    }
  }
  ASSERT_NE(stub_process, 0u);
  std::vector<std::string> texts;
  const std::regex stamp(R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d\d\] ([\s\S]*))");
  for (const auto& line : lines) {
    if (line.process_id != stub_process) continue;
    std::smatch match;
    texts.push_back(std::regex_match(line.text, match, stamp) ? std::string(match[1]) : line.text);
  }
  // Static initialisation reads the configuration, the entry writes its trace,
  // and its first logging call configures the writers.
  const std::vector<std::string> expected_start = {
      "RegPath:Software\\CorvaneSoftware\\UpdateDev\\\n",
      "logging_enabled:1 to_debug_out:1 to_file:0 append_to_file:1 show_time:1\n",
      "mi enter cmdline:/install\n",
      "InternalInitialize",
      "RegPath:Software\\CorvaneSoftware\\UpdateDev\\\n",
      "logging_enabled:1 to_debug_out:1 to_file:0 append_to_file:1 show_time:1\n",
      "ConfigureFileLogWriter\n"};
  ASSERT_GE(texts.size(), expected_start.size());
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + expected_start.size()),
            expected_start);
  for (const auto& text : texts) {
    EXPECT_EQ(text.find("FUNCTION:"), std::string::npos) << text;
    EXPECT_EQ(text.find("command_line:"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace vireo
