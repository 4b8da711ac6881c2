#include "tests/logging/logging_test_support.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <stdexcept>

#include "logging/log_interface.h"
#include "logging/logging_configuration.h"

namespace vireo::test {

namespace {

constexpr DWORD kDbgPrintException = 0x40010006;      // DBG_PRINTEXCEPTION_C
constexpr DWORD kDbgPrintWideException = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C
constexpr DWORD kHelperTimeoutMs = 120000;

uint64_t fake_now = 0;

uint64_t FakeNow() { return fake_now; }

DebugOutputExceptions* active_exceptions = nullptr;

}  // namespace

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], size,
                      nullptr, nullptr);
  return narrow;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

void WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + Narrow(path));
  DWORD written = 0;
  if (!bytes.empty()) {
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  CloseHandle(file);
}

void WriteText(const std::wstring& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read " + Narrow(path));
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    bytes.insert(bytes.end(), buffer, buffer + read);
  }
  CloseHandle(file);
  return bytes;
}

std::vector<std::wstring> ReadLogLines(const std::wstring& path, bool wide) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  std::wstring text;
  if (wide) {
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
      throw std::runtime_error("no byte-order mark in " + Narrow(path));
    }
    if (bytes.size() % 2 != 0) throw std::runtime_error("odd size of " + Narrow(path));
    text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  } else {
    for (uint8_t byte : bytes) text.push_back(static_cast<wchar_t>(byte));
  }
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value)
    : name_(name) {
  wchar_t buffer[32768];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  if (length > 0 && length < 32768) {
    had_value_ = true;
    old_value_ = buffer;
  }
  SetEnvironmentVariableW(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableW(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr);
}

ScopedLogToFileOverride::ScopedLogToFileOverride(DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\CorvaneSoftware\\UpdateDev", 0, nullptr, 0,
                      KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot create the UpdateDev key");
  }
  const LONG result = RegSetValueExW(key, L"IsEnabledLogToFile", 0, type,
                                     static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) throw std::runtime_error("cannot write IsEnabledLogToFile");
  active_ = true;
}

ScopedLogToFileOverride::~ScopedLogToFileOverride() {
  if (!active_) return;
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\CorvaneSoftware\\UpdateDev",
                     L"IsEnabledLogToFile");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\CorvaneSoftware\\UpdateDev");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\CorvaneSoftware");
}

FakeClock::FakeClock() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  fake_now = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  SetSystemTimeForTesting(&FakeNow);
}

FakeClock::~FakeClock() { SetSystemTimeForTesting(nullptr); }

void FakeClock::PassRereadInterval() { fake_now += 50000001; }

void FakeClock::Advance(uint64_t units) { fake_now += units; }

LocalLogging::LocalLogging(const std::wstring& system_drive) {
  ScopedEnvironmentVariable drive(L"SystemDrive", system_drive.c_str());
  logging_ = std::make_unique<Logging>();
}

LocalLogging::~LocalLogging() { Destroy(); }

void LocalLogging::Destroy() {
  if (!logging_) return;
  logging_.reset();
  logging_alive = true;
}

void LocalLogging::Log(LogCategory category, LogLevel level, const wchar_t* format, ...) {
  LogSite site{logging_.get(), category, level, 0u};
  site.mask = logging_->GetWriterMask(category, level);
  va_list args;
  va_start(args, format);
  site.logger->LogMessageV(site.mask, site.category, site.level, format, args);
  va_end(args);
}

void RecordingWriter::Write(const LogRecord& record) {
  if (on_write_) on_write_(record);
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(Entry{record.category, record.level, record.prefix ? record.prefix : L"",
                           record.message ? record.message : L""});
  if (order_) order_->push_back(name_);
}

std::vector<std::wstring> RecordingWriter::messages() {
  std::vector<std::wstring> messages;
  for (const auto& entry : entries()) messages.push_back(entry.message);
  return messages;
}

DebugOutput::DebugOutput() = default;

std::vector<std::string> DebugOutput::Lines() {
  // Lines arrive through the viewer's buffer on the capture thread; a marker
  // written last shows that everything before it has arrived.
  const std::string marker = "vireo-test-sync-" + std::to_string(++sync_count_);
  OutputDebugStringA(marker.c_str());
  const DWORD self = GetCurrentProcessId();
  for (int i = 0; i < 1000; ++i) {
    const auto all = capture_.Lines();
    for (size_t at = consumed_; at < all.size(); ++at) {
      if (all[at].process_id != self || all[at].text != marker) continue;
      std::vector<std::string> lines;
      for (size_t one = consumed_; one < at; ++one) {
        if (all[one].process_id != self) continue;
        if (all[one].text.rfind("vireo-test-sync-", 0) == 0) continue;
        lines.push_back(all[one].text);
      }
      consumed_ = at + 1;
      return lines;
    }
    Sleep(10);
  }
  throw std::runtime_error("the debugger output did not arrive");
}

std::vector<std::string> DebugOutput::OtherProcessLines() {
  std::vector<std::string> lines;
  for (const auto& line : capture_.Lines()) {
    if (line.process_id != GetCurrentProcessId()) lines.push_back(line.text);
  }
  return lines;
}

bool DebugOutput::Contains(const std::string& text) { return Count(text) > 0; }

int DebugOutput::Count(const std::string& text) {
  int count = 0;
  for (const auto& line : Lines()) {
    if (line.find(text) != std::string::npos) ++count;
  }
  return count;
}

DebugOutputExceptions::DebugOutputExceptions() : thread_id_(GetCurrentThreadId()) {
  active_exceptions = this;
  handler_ = AddVectoredExceptionHandler(1, &DebugOutputExceptions::Handler);
}

DebugOutputExceptions::~DebugOutputExceptions() {
  RemoveVectoredExceptionHandler(handler_);
  active_exceptions = nullptr;
}

LONG CALLBACK DebugOutputExceptions::Handler(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  DebugOutputExceptions* self = active_exceptions;
  if (!self || GetCurrentThreadId() != self->thread_id_ || record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const size_t length = record->ExceptionInformation[0];
  if (record->ExceptionCode == kDbgPrintException) {
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    self->texts_.emplace_back(text, length > 0 ? length - 1 : 0);
  } else if (record->ExceptionCode == kDbgPrintWideException) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]);
    self->texts_.push_back(Narrow(std::wstring(text, length > 0 ? length - 1 : 0)));
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

bool DebugOutputExceptions::Contains(const std::string& text) const { return Count(text) > 0; }

int DebugOutputExceptions::Count(const std::string& text) const {
  int count = 0;
  for (const auto& one : texts_) {
    if (one.find(text) != std::string::npos) ++count;
  }
  return count;
}

HANDLE StartHelperProcess(const std::string& test_name,
                          const std::vector<std::pair<std::wstring, std::wstring>>& environment) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=" + Widen(test_name) +
                         L" --gtest_also_run_disabled_tests";
  std::vector<std::unique_ptr<ScopedEnvironmentVariable>> scoped;
  for (const auto& [name, value] : environment) {
    scoped.push_back(std::make_unique<ScopedEnvironmentVariable>(name.c_str(), value.c_str()));
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    throw std::runtime_error("cannot start a helper process");
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

DWORD FinishHelperProcess(HANDLE process) {
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process, kHelperTimeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process, &code);
  } else {
    TerminateProcess(process, 0xFFFFFFFF);
  }
  CloseHandle(process);
  return code;
}

bool FindAce(PACL acl, const char* sid_text, ACCESS_MASK* mask, BYTE* flags, BYTE* type) {
  PSID wanted = nullptr;
  ConvertStringSidToSidA(sid_text, &wanted);
  bool found = false;
  for (DWORD i = 0; acl && i < acl->AceCount && !found; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if (EqualSid(&ace->SidStart, wanted)) {
      *mask = ace->Mask;
      *flags = header->AceFlags;
      *type = header->AceType;
      found = true;
    }
  }
  LocalFree(wanted);
  return found;
}

bool GrantsEveryone(const std::wstring& folder) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    ADD_FAILURE() << "no DACL for " << Narrow(folder);
    return true;
  }
  ACCESS_MASK mask = 0;
  BYTE flags = 0;
  BYTE type = 0;
  const bool found = FindAce(dacl, "S-1-1-0", &mask, &flags, &type);
  LocalFree(descriptor);
  return found;
}

ScopedProductLogFile::ScopedProductLogFile() {
  wchar_t common[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
  std::wstring folder = common;
  for (const wchar_t* part : {L"CorvaneSoftware", L"Update", L"Log"}) {
    folder += L"\\";
    folder += part;
    if (!PathExists(folder)) created_folders_.push_back(folder);
  }
  path_ = folder + L"\\CorvaneUpdate.log";
  DeleteFileW(path_.c_str());
  DeleteFileW((path_ + L".bak").c_str());
  removed_ = !PathExists(path_);
}

void ScopedProductLogFile::RemoveEmptyFolders() {
  std::wstring folder = path_.substr(0, path_.rfind(L'\\'));
  for (int level = 0; level < 3; ++level) {
    if (RemoveDirectoryW(folder.c_str())) created_folders_.insert(created_folders_.begin(), folder);
    folder.resize(folder.rfind(L'\\'));
  }
}

ScopedProductLogFile::~ScopedProductLogFile() {
  DeleteFileW(path_.c_str());
  DeleteFileW((path_ + L".bak").c_str());
  for (auto folder = created_folders_.rbegin(); folder != created_folders_.rend(); ++folder) {
    RemoveDirectoryW(folder->c_str());
  }
}

}  // namespace vireo::test
