// The demo payload's setup.exe: stands in for the updater's own setup program.
// It records the command line it received and exits with a code a test chooses,
// so that what the stub passed and how exit codes travel can be seen exactly.
//
// Environment:
//   CORVANE_CHILD_RECORD      file to which the command line is appended (UTF-8,
//                             one line per run)
//   CORVANE_CHILD_EXIT_CODE   exit code, decimal, negative or 0x-hexadecimal (default 0)
//   CORVANE_CHILD_LEAVE_FILE  name of a file to leave in the program's own folder
//   CORVANE_CHILD_SLEEP_MS    milliseconds to wait before exiting
#include <windows.h>

#include <cstdlib>
#include <cwchar>

namespace {

void WriteUtf8(HANDLE file, const wchar_t* text) {
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return;
  char* utf8 = static_cast<char*>(std::malloc(bytes));
  if (!utf8) return;
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, bytes, nullptr, nullptr);
  DWORD written = 0;
  ::WriteFile(file, utf8, bytes - 1, &written, nullptr);
  std::free(utf8);
}

bool ReadVariable(const wchar_t* name, wchar_t* value, DWORD size) {
  const DWORD length = ::GetEnvironmentVariableW(name, value, size);
  return length > 0 && length < size;
}

DWORD ParseExitCode(const wchar_t* text) {
  if (text[0] == L'-') return static_cast<DWORD>(std::wcstol(text, nullptr, 10));
  return static_cast<DWORD>(std::wcstoul(text, nullptr, 0));
}

}  // namespace

int wmain() {
  const wchar_t* command_line = ::GetCommandLineW();

  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out && out != INVALID_HANDLE_VALUE) {
    WriteUtf8(out, L"setup.exe received: ");
    WriteUtf8(out, command_line);
    WriteUtf8(out, L"\n");
  }

  wchar_t value[MAX_PATH * 2];
  if (ReadVariable(L"CORVANE_CHILD_RECORD", value, MAX_PATH * 2)) {
    // Several stubs may record into one file at once: append under a retry.
    for (int attempt = 0; attempt < 100; ++attempt) {
      const HANDLE record = ::CreateFileW(value, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
      if (record != INVALID_HANDLE_VALUE) {
        WriteUtf8(record, command_line);
        WriteUtf8(record, L"\n");
        ::CloseHandle(record);
        break;
      }
      ::Sleep(20);
    }
  }

  if (ReadVariable(L"CORVANE_CHILD_LEAVE_FILE", value, MAX_PATH)) {
    wchar_t path[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      wchar_t* separator = std::wcsrchr(path, L'\\');
      if (separator) {
        separator[1] = L'\0';
        std::wcscat(path, value);
        const HANDLE left = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (left != INVALID_HANDLE_VALUE) ::CloseHandle(left);
      }
    }
  }

  if (ReadVariable(L"CORVANE_CHILD_SLEEP_MS", value, MAX_PATH)) {
    ::Sleep(std::wcstoul(value, nullptr, 10));
  }

  DWORD exit_code = 0;
  if (ReadVariable(L"CORVANE_CHILD_EXIT_CODE", value, MAX_PATH)) exit_code = ParseExitCode(value);
  ::ExitProcess(exit_code);
}
