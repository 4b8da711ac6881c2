#pragma once
// Where the logging settings come from: the optional ini file
// "CorvaneUpdate.ini" at the root of the system drive (sections
// "LoggingSettings" and "LoggingLevel") and, for LogToFile only, the developer
// registry value HKLM "Software\CorvaneSoftware\UpdateDev\" IsEnabledLogToFile.
// The reads themselves are Logging::ReadConfiguration and Logging::FindIniFile.

#include <cstdint>

#include "base/owned_string.h"

namespace vireo {

constexpr const wchar_t* kLoggingSettingsSection = L"LoggingSettings";
constexpr const wchar_t* kLoggingLevelSection = L"LoggingLevel";
constexpr const wchar_t* kUpdateDevKey = L"Software\\CorvaneSoftware\\UpdateDev\\";
constexpr const wchar_t* kLogToFileValue = L"IsEnabledLogToFile";

// "<SystemDrive>\CorvaneUpdate.ini", for example C:\CorvaneUpdate.ini. When
// "SystemDrive" is unset or empty, the drive of the Windows folder stands in;
// empty when that cannot be found either (the ini file then never counts as
// present).
WideString ComputeIniFilePath();

// The system time in 100-ns units since 1 January 1601 (UTC), the unit of the
// five-second configuration re-read.
uint64_t CurrentSystemTime();

// Tests stand in for the system clock here, so that the re-read can be seen
// without waiting. Pass null to restore GetSystemTimeAsFileTime.
void SetSystemTimeForTesting(uint64_t (*now)());

// True only when the registry value exists, is a REG_DWORD and is not 0.
bool ReadLogToFileOverride();

}  // namespace vireo
