// logging-bench.exe [--lines N] [--calls N]: measures, under Wine or Windows,
//
//   file_lines_per_s_1     one process writing N lines into the file writer
//   file_lines_per_s_4     four processes writing N lines each into one file
//   gated_call_ns          one call site whose line no writer takes (level 5)
//   dropped_call_ns        one call site of level 2 that is formatted but
//                          reaches no writer (the cost a "FUNCTION:" line has
//                          without an enabled ETW session)
//
// as key=value lines. The file goes to a fresh folder under %TEMP%, which is
// removed afterwards. The processes of the four-process run are this program
// again (--child), started together.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "logging/file_log_writer.h"
#include "logging/log_interface.h"

namespace {

constexpr int kChildren = 4;

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now;
}

// A line like the stub's: the prefix the core builds, then a message.
void WriteLines(const wchar_t* path, int lines) {
  vireo::FileLogWriter writer(path, true, vireo::g_logging);
  wchar_t prefix[96];
  wchar_t message[160];
  for (int i = 0; i < lines; ++i) {
    _snwprintf(prefix, 96, L"[12/08/25 21:56:03.123][CorvaneUpdateSetup][%lu:%lu]",
               ::GetCurrentProcessId(), ::GetCurrentThreadId());
    _snwprintf(message, 160, L"command_line:\"C:\\Temp\\PKM1.tmp\\setup.exe\" /install line %d", i);
    writer.Write(vireo::LogRecord{vireo::LC_CORE, 2, prefix, message});
  }
}

bool StartChild(const wchar_t* self, const wchar_t* path, int lines, const wchar_t* go,
                PROCESS_INFORMATION* process) {
  wchar_t command[1024];
  _snwprintf(command, 1024, L"\"%s\" --child \"%s\" %d %s", self, path, lines, go);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  return ::CreateProcessW(self, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          process) != FALSE;
}

double FileLinesPerSecond(const wchar_t* self, const wchar_t* path, int processes, int lines) {
  ::DeleteFileW(path);
  if (processes == 1) {
    const LARGE_INTEGER start = Now();
    WriteLines(path, lines);
    return lines / Seconds(start, Now());
  }
  wchar_t go[64];
  _snwprintf(go, 64, L"logging_bench_go_%lu", ::GetCurrentProcessId());
  HANDLE go_event = ::CreateEventW(nullptr, TRUE, FALSE, go);
  PROCESS_INFORMATION children[kChildren] = {};
  for (int i = 0; i < processes; ++i) StartChild(self, path, lines, go, &children[i]);
  ::Sleep(1000);  // lets every child reach the start line before the clock runs
  const LARGE_INTEGER start = Now();
  ::SetEvent(go_event);
  for (int i = 0; i < processes; ++i) {
    ::WaitForSingleObject(children[i].hProcess, INFINITE);
    ::CloseHandle(children[i].hProcess);
    ::CloseHandle(children[i].hThread);
  }
  const double seconds = Seconds(start, Now());
  ::CloseHandle(go_event);
  return processes * lines / seconds;
}

double NanosecondsPerCall(int calls, vireo::LogLevel level) {
  const LARGE_INTEGER start = Now();
  for (int i = 0; i < calls; ++i) {
    VIREO_LOG(vireo::LC_UTIL, level, L"[GetModuleName][module 0x%08x][path '%s'][name '%s']", i,
              L"C:\\Temp\\CorvaneUpdateSetup.exe", L"CorvaneUpdateSetup.exe");
  }
  return Seconds(start, Now()) * 1e9 / calls;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 5 && std::wcscmp(argv[1], L"--child") == 0) {
    HANDLE go = ::OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
    if (go) ::WaitForSingleObject(go, INFINITE);
    WriteLines(argv[2], _wtoi(argv[3]));
    return 0;
  }
  int lines = 20000;
  int calls = 200000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--lines") == 0) lines = _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--calls") == 0) calls = _wtoi(argv[i + 1]);
  }

  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t temp[MAX_PATH];
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  ::GetTempFileNameW(temp, L"LGB", 0, folder);
  ::DeleteFileW(folder);
  ::CreateDirectoryW(folder, nullptr);
  wchar_t path[MAX_PATH];
  _snwprintf(path, MAX_PATH, L"%s\\CorvaneUpdate.log", folder);

  std::wprintf(L"lines=%d calls=%d\n", lines, calls);
  std::wprintf(L"file_lines_per_s_1=%.0f\n", FileLinesPerSecond(self, path, 1, lines));
  std::wprintf(L"file_lines_per_s_4=%.0f\n", FileLinesPerSecond(self, path, kChildren, lines));
  std::wprintf(L"gated_call_ns=%.1f\n", NanosecondsPerCall(calls, 5));
  std::wprintf(L"dropped_call_ns=%.1f\n", NanosecondsPerCall(calls / 10, 2));

  ::DeleteFileW(path);
  ::RemoveDirectoryW(folder);
  return 0;
}
