// run-and-report.exe PROGRAM [ARGUMENTS...]: starts a program, waits for it and
// prints its whole 32-bit exit code. A Linux exit status keeps only the low 8
// bits of a Windows exit code, so the demo reads it here, on the Windows side.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "demo/command_line_tail.h"

int wmain() {
  const wchar_t* tail = vireo::CommandLineTail(::GetCommandLineW());
  if (!*tail) {
    std::fwprintf(stderr, L"usage: run-and-report PROGRAM [ARGUMENTS...]\n");
    return 2;
  }

  wchar_t* command_line = _wcsdup(tail);
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup_info, &process)) {
    std::fwprintf(stderr, L"run-and-report: cannot start %ls (error %lu)\n", tail,
                  ::GetLastError());
    return 2;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  ::GetExitCodeProcess(process.hProcess, &exit_code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  std::wprintf(L"exit code: 0x%08lX (%ld)\n", exit_code, static_cast<long>(exit_code));
  return 0;
}
