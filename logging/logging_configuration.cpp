#include "logging/logging_configuration.h"

#include <windows.h>

#include "base/path_routines.h"
#include "base/unique_handle.h"
#include "logging/log_interface.h"
#include "logging/logging.h"

namespace vireo {

namespace {

constexpr const wchar_t* kIniFileName = L"CorvaneUpdate.ini";

bool ReadIniSwitch(const WideString& ini, const wchar_t* key, int default_value) {
  return ::GetPrivateProfileIntW(kLoggingSettingsSection, key, default_value, ini.c_str()) != 0;
}

uint64_t (*system_time_for_testing)() = nullptr;

}  // namespace

void SetSystemTimeForTesting(uint64_t (*now)()) { system_time_for_testing = now; }

uint64_t CurrentSystemTime() {
  if (system_time_for_testing) return system_time_for_testing();
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

WideString ComputeIniFilePath() {
  WideString path = ReadEnvironmentVariable(L"SystemDrive");
  if (path.empty()) {
    // A bare file name would be looked for in the current folder by the
    // existence check but read from the Windows folder by the profile calls;
    // the drive of the Windows folder keeps both at the system drive's root.
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length < 2 || length >= MAX_PATH || windows[1] != L':') return WideString();
    path.Assign(windows, 2);
  }
  path.Append(L'\\');
  path.Append(kIniFileName);
  return path;
}

bool ReadLogToFileOverride() {
  DebugTrace(L"RegPath:%s", kUpdateDevKey);
  UniqueRegistryKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUpdateDevKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof(data);
  return ::RegQueryValueExW(key.get(), kLogToFileValue, nullptr, &type,
                            reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && data != 0;
}

WideString Logging::FindIniFile() const {
  if (ini_file_path_.empty() || !FileExists(ini_file_path_.c_str())) return WideString();
  return ini_file_path_;
}

void Logging::ReadConfiguration() {
  log_to_file_ = ReadLogToFileOverride();

  const WideString ini = FindIniFile();
  if (!ini.empty()) {
    enabled_ = ReadIniSwitch(ini, L"EnableLogging", 1);
    show_time_ = ReadIniSwitch(ini, L"ShowTime", 1);
    log_to_debug_out_ = ReadIniSwitch(ini, L"LogToOutputDebug", 1);
    // An ini file replaces the registry value, also when it lacks the key.
    log_to_file_ = ReadIniSwitch(ini, L"LogToFile", 0);
    append_to_file_ = ReadIniSwitch(ini, L"AppendToFile", 1);
  } else {
    enabled_ = true;
    show_time_ = true;
    log_to_debug_out_ = true;
    append_to_file_ = true;
  }
  DebugTrace(L"logging_enabled:%d to_debug_out:%d to_file:%d append_to_file:%d show_time:%d",
             enabled_ ? 1 : 0, log_to_debug_out_ ? 1 : 0, log_to_file_ ? 1 : 0,
             append_to_file_ ? 1 : 0, show_time_ ? 1 : 0);

  category_levels_[LC_ALWAYS] = CategoryLevel{true, LL_ALL};
  for (const LogCategoryName& row : kLogCategoryNames) {
    if (!row.name || row.category < 0 || row.category >= kCategoryCount) continue;
    // Looked for again per row, as an edited file may come and go meanwhile.
    const WideString row_ini = FindIniFile();
    const LogLevel level =
        row_ini.empty()
            ? LL_DEFAULT
            : static_cast<LogLevel>(::GetPrivateProfileIntW(kLoggingLevelSection, row.name,
                                                            LL_DEFAULT, row_ini.c_str()));
    category_levels_[row.category] = CategoryLevel{level != 0, level};
  }
  set_last_config_read(CurrentSystemTime());
}

}  // namespace vireo
