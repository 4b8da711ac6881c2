#include "tests/e2e/stub_runner.h"

#include <shlobj.h>

#include <stdexcept>

#include "tools/payload_encoding/gnu_tar_writer.h"
#include "tools/payload_encoding/payload_encoder.h"
#include "tests/support/file_bytes.h"
#include "tests/support/tag_stamp.h"
#include "tests/support/wine_path.h"

namespace vireo::test {

namespace {

constexpr DWORD kRunTimeoutMs = 120000;

std::wstring RequiredPath(const char* variable) {
  std::wstring path = PathFromEnvironment(variable);
  if (path.empty()) throw std::runtime_error(std::string(variable) + " is not set");
  return path;
}

}  // namespace

std::vector<std::wstring> ReadLines(const std::wstring& path) {
  std::vector<std::wstring> lines;
  if (!PathExists(path)) return lines;
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  const std::wstring text = FromUtf8(std::string(bytes.begin(), bytes.end()));
  size_t start = 0;
  for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

namespace {

std::wstring KnownFolder(int folder_id) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, folder_id, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

// Sets the child's variables in this process for as long as it lives, so that
// the stub and, through it, the child inherit them.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::map<std::wstring, std::wstring>& variables) {
    for (const auto& [name, value] : variables) {
      names_.push_back(name);
      SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
  }
  ~ScopedEnvironment() {
    for (const auto& name : names_) SetEnvironmentVariableW(name.c_str(), nullptr);
  }

 private:
  std::vector<std::wstring> names_;
};

}  // namespace

std::vector<uint8_t> MakePayload(const std::vector<PayloadMember>& members) {
  GnuTarWriter tar;
  for (const auto& member : members) tar.AddFile(member.name, member.data.data(), member.data.size());
  const std::vector<uint8_t> image = tar.Finish();
  return EncodePayload(image.data(), image.size());
}

StubRunner::StubRunner() {
  stub_program_ = ReadFileBytes(RequiredPath("CORVANE_STUB"));
  child_program_ = ReadFileBytes(RequiredPath("CORVANE_TEST_CHILD"));
}

std::wstring StubRunner::PrepareStub(const std::wstring& relative_path,
                                     const std::vector<uint8_t>* payload,
                                     const std::string* tag) {
  const std::wstring path = folder_.Child(relative_path);
  const size_t separator = path.find_last_of(L'\\');
  CreateDirectoryW(path.substr(0, separator).c_str(), nullptr);
  WriteFileBytes(path, stub_program_);

  if (payload) {
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    if (!update ||
        !UpdateResourceW(update, L"B", MAKEINTRESOURCEW(102),
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                         const_cast<uint8_t*>(payload->data()),
                         static_cast<DWORD>(payload->size())) ||
        !EndUpdateResourceW(update, FALSE)) {
      throw std::runtime_error("cannot replace the payload resource");
    }
  }
  if (tag) WriteFileBytes(path, StampTag(ReadFileBytes(path), *tag));
  return path;
}

StubRunner::Started StubRunner::Start(const std::wstring& stub, const std::wstring& arguments,
                                      const std::map<std::wstring, std::wstring>& environment) {
  Started started;
  started.record = folder_.Child(L"record" + std::to_wstring(++record_count_) + L".txt");
  std::map<std::wstring, std::wstring> variables = environment;
  variables[L"CORVANE_CHILD_RECORD"] = started.record;
  ScopedEnvironment scoped(variables);

  std::wstring command_line = L"\"" + stub + L"\"";
  if (!arguments.empty()) command_line += L" " + arguments;
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  if (!CreateProcessW(stub.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup_info, &started.process)) {
    throw std::runtime_error("cannot start the stub");
  }
  return started;
}

StubRun StubRunner::Finish(Started& started) {
  StubRun run;
  if (WaitForSingleObject(started.process.hProcess, kRunTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(started.process.hProcess, WAIT_TIMEOUT);
    WaitForSingleObject(started.process.hProcess, INFINITE);
  }
  GetExitCodeProcess(started.process.hProcess, &run.exit_code);
  CloseHandle(started.process.hProcess);
  CloseHandle(started.process.hThread);
  run.child_command_lines = ReadLines(started.record);
  return run;
}

StubRun StubRunner::Run(const std::wstring& stub, const std::wstring& arguments,
                        const std::map<std::wstring, std::wstring>& child_environment) {
  Started started = Start(stub, arguments, child_environment);
  return Finish(started);
}

std::vector<StubRun> StubRunner::RunTogether(
    const std::vector<std::wstring>& stubs,
    const std::map<std::wstring, std::wstring>& child_environment) {
  std::vector<Started> started;
  for (const auto& stub : stubs) started.push_back(Start(stub, L"", child_environment));
  std::vector<StubRun> runs;
  for (auto& one : started) runs.push_back(Finish(one));
  return runs;
}

std::wstring AdminWorkRoot() {
  const std::wstring system_temp = KnownFolder(CSIDL_WINDOWS) + L"\\SystemTemp";
  const DWORD attributes = GetFileAttributesW(system_temp.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return system_temp;
  }
  return KnownFolder(CSIDL_PROGRAM_FILES) + L"\\CorvaneSoftware\\Temp";
}

std::vector<std::wstring> WorkEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  for (const wchar_t* pattern : {L"\\PKM*", L"\\PKT*"}) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      names.push_back(entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  return names;
}

std::wstring WorkDirectoryOf(const std::wstring& child_command_line) {
  std::wstring program;
  if (!child_command_line.empty() && child_command_line[0] == L'"') {
    program = child_command_line.substr(1, child_command_line.find(L'"', 1) - 1);
  } else {
    program = child_command_line.substr(0, child_command_line.find(L' '));
  }
  return program.substr(0, program.find_last_of(L'\\'));
}

}  // namespace vireo::test
