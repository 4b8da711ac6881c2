// The settings: the ini file at the system drive's root, the developer
// registry value, their defaults and the five-second re-read. Each test's
// Logging object takes a scratch folder as its system drive.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "logging/log_interface.h"
#include "logging/logging_configuration.h"
#include "tests/logging/logging_test_support.h"
#include "tests/support/scratch_folder.h"

namespace vireo {
namespace {

using test::DebugOutputExceptions;
using test::FakeClock;
using test::LocalLogging;
using test::ScopedEnvironmentVariable;
using test::ScopedLogToFileOverride;
using test::ScratchFolder;

struct Settings {
  bool enabled;
  bool show_time;
  bool to_debug_out;
  bool to_file;
  bool append;
};

Settings SettingsOf(Logging& logging) {
  return {logging.enabled(), logging.show_time(), logging.log_to_debug_out(), logging.log_to_file(),
          logging.append_to_file()};
}

std::string Summary(const Settings& s) {
  return "logging_enabled:" + std::to_string(s.enabled) + " to_debug_out:" +
         std::to_string(s.to_debug_out) + " to_file:" + std::to_string(s.to_file) +
         " append_to_file:" + std::to_string(s.append) + " show_time:" + std::to_string(s.show_time);
}

enum class Registry { kAbsent, kDword1, kDword0, kString1 };

std::optional<ScopedLogToFileOverride> SetRegistry(Registry registry) {
  switch (registry) {
    case Registry::kAbsent:
      return std::nullopt;
    case Registry::kDword1:
      return ScopedLogToFileOverride::Dword(1);
    case Registry::kDword0:
      return ScopedLogToFileOverride::Dword(0);
    case Registry::kString1:
      return ScopedLogToFileOverride(REG_SZ, L"1", 4);
  }
  return std::nullopt;
}

struct ConfigurationCase {
  const char* name;
  std::optional<std::string> ini;
  Registry registry;
  Settings expected;
  // Categories whose entry differs from {enabled, level 1}.
  std::map<LogCategory, Logging::CategoryLevel> levels;
};

const ConfigurationCase kConfigurationCases[] = {
    {"no ini, no registry value", std::nullopt, Registry::kAbsent, {true, true, true, false, true}, {}},
    {"no ini, registry DWORD 1", std::nullopt, Registry::kDword1, {true, true, true, true, true}, {}},
    {"no ini, registry DWORD 0", std::nullopt, Registry::kDword0, {true, true, true, false, true}, {}},
    {"no ini, registry value stored as a string", std::nullopt, Registry::kString1,
     {true, true, true, false, true}, {}},
    {"ini without LogToFile replaces the registry value", "[LoggingSettings]\r\nShowTime=1\r\n",
     Registry::kDword1, {true, true, true, false, true}, {}},
    {"every switch turned", 
     "[LoggingSettings]\r\nEnableLogging=0\r\nShowTime=0\r\nLogToOutputDebug=0\r\nLogToFile=1\r\n"
     "AppendToFile=0\r\n",
     Registry::kAbsent, {false, false, false, true, false}, {}},
    {"text that is not a number switches off", "[LoggingSettings]\r\nShowTime=yes\r\n",
     Registry::kAbsent, {true, false, true, false, true}, {}},
    {"category levels",
     "[LoggingLevel]\r\nLC_UTIL=-1\r\nLC_CORE=0\r\nLC_NET=2\r\nLC_REPORT=abc\r\nLC_JS=7\r\n",
     Registry::kAbsent, {true, true, true, false, true},
     {{LC_UTIL, {true, -1}},
      {LC_CORE, {false, 0}},
      {LC_NET, {true, 2}},
      {LC_REPORT, {false, 0}},
      {LC_JS, {true, 7}}}},
    {"LC_ALWAYS has no key", "[LoggingLevel]\r\nLC_ALWAYS=0\r\n", Registry::kAbsent,
     {true, true, true, false, true}, {}},
};

TEST(LoggingConfiguration, IniRegistryAndDefaults) {
  for (const auto& one : kConfigurationCases) {
    SCOPED_TRACE(one.name);
    ScratchFolder drive;
    if (one.ini) test::WriteText(drive.Child(L"CorvaneUpdate.ini"), *one.ini);
    auto registry = SetRegistry(one.registry);

    DebugOutputExceptions output;
    LocalLogging logging(drive.path());
    const Settings settings = SettingsOf(*logging);
    EXPECT_EQ(Summary(settings), Summary(one.expected));
    EXPECT_TRUE(output.Contains("] RegPath:Software\\CorvaneSoftware\\UpdateDev\\\n"));
    EXPECT_TRUE(output.Contains("] " + Summary(one.expected) + "\n"));

    const auto always = logging->category_level(LC_ALWAYS);
    EXPECT_TRUE(always.enabled);
    EXPECT_EQ(always.level, LL_ALL);
    for (int category = 1; category <= 9; ++category) {
      const auto expected = one.levels.count(static_cast<LogCategory>(category))
                                ? one.levels.at(static_cast<LogCategory>(category))
                                : Logging::CategoryLevel{true, 1};
      const auto actual = logging->category_level(static_cast<LogCategory>(category));
      EXPECT_EQ(actual.enabled, expected.enabled) << category;
      EXPECT_EQ(actual.level, expected.level) << category;
    }
    EXPECT_FALSE(logging->initialized());
    EXPECT_EQ(logging->writer_count(), 0);
  }
}

TEST(LoggingConfiguration, IniPathIsAtTheSystemDrivesRoot) {
  {
    ScopedEnvironmentVariable drive(L"SystemDrive", L"Q:");
    EXPECT_EQ(std::wstring(ComputeIniFilePath().c_str()), L"Q:\\CorvaneUpdate.ini");
  }
  // Without "SystemDrive", the Windows folder's drive: a bare file name would
  // be checked in the current folder but read from the Windows folder.
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring expected = std::wstring(windows, 2) + L"\\CorvaneUpdate.ini";
  for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L""}) {
    ScopedEnvironmentVariable drive(L"SystemDrive", value);
    EXPECT_EQ(std::wstring(ComputeIniFilePath().c_str()), expected);
  }
  EXPECT_EQ(std::wstring(g_logging.ini_file_path().c_str()), L"C:\\CorvaneUpdate.ini");
}

TEST(LoggingConfiguration, IniFileIsFoundAnewAtEveryUse) {
  ScratchFolder drive;
  LocalLogging logging(drive.path());
  const std::wstring ini = drive.Child(L"CorvaneUpdate.ini");
  EXPECT_EQ(std::wstring(logging->ini_file_path().c_str()), ini);
  EXPECT_TRUE(logging->FindIniFile().empty());
  test::WriteText(ini, "[LoggingSettings]\r\n");
  EXPECT_EQ(std::wstring(logging->FindIniFile().c_str()), ini);
  DeleteFileW(ini.c_str());
  EXPECT_TRUE(logging->FindIniFile().empty());
}

TEST(LoggingConfiguration, EditedIniIsSeenAfterFiveSeconds) {
  FakeClock clock;
  ScratchFolder drive;
  const std::wstring ini = drive.Child(L"CorvaneUpdate.ini");
  test::WriteText(ini, "[LoggingSettings]\r\nShowTime=1\r\n[LoggingLevel]\r\nLC_CORE=1\r\n");
  LocalLogging logging(drive.path());
  logging.Log(LC_CORE, 2, L"first");
  ASSERT_TRUE(logging->initialized());

  test::WriteText(ini, "[LoggingSettings]\r\nShowTime=0\r\n[LoggingLevel]\r\nLC_CORE=3\r\n");
  clock.Advance(50000000);  // exactly five seconds: not yet
  logging->GetWriterMask(LC_CORE, 2);
  EXPECT_TRUE(logging->show_time());
  EXPECT_EQ(logging->category_level(LC_CORE).level, 1);

  clock.Advance(1);
  EXPECT_EQ(logging->GetWriterMask(LC_CORE, 3), 0xFFFFFFFFu);
  EXPECT_FALSE(logging->show_time());
  EXPECT_EQ(logging->category_level(LC_CORE).level, 3);
}

// While logging is configured off, every call initialises again: it reads the
// configuration and says so on the debugger output, and gets mask 0.
TEST(LoggingConfiguration, DisabledFromTheStartReadsAgainAtEveryCall) {
  ScratchFolder drive;
  test::WriteText(drive.Child(L"CorvaneUpdate.ini"), "[LoggingSettings]\r\nEnableLogging=0\r\n");
  LocalLogging logging(drive.path());
  DebugOutputExceptions output;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(logging->GetWriterMask(LC_CORE, LL_ERROR), 0u);
  EXPECT_EQ(output.Count("InternalInitialize"), 3);
  EXPECT_EQ(output.Count("] RegPath:"), 3);
  EXPECT_EQ(output.Count("] logging_enabled:0 "), 3);
  EXPECT_FALSE(logging->initialized());
  EXPECT_EQ(logging->writer_count(), 0);
}

TEST(LoggingConfiguration, RegistryOverrideAlone) {
  for (const auto& [registry, expected] :
       {std::pair{Registry::kAbsent, false}, std::pair{Registry::kDword1, true},
        std::pair{Registry::kDword0, false}, std::pair{Registry::kString1, false}}) {
    auto scoped = SetRegistry(registry);
    DebugOutputExceptions output;
    EXPECT_EQ(ReadLogToFileOverride(), expected) << static_cast<int>(registry);
    EXPECT_EQ(output.Count("] RegPath:Software\\CorvaneSoftware\\UpdateDev\\\n"), 1);
  }
}

}  // namespace
}  // namespace vireo
