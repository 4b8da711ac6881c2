// bench-run.exe PROGRAM [ARGUMENTS...]: starts a program, waits for it and
// prints, as key=value lines, its wall time, whole exit code and peak memory.
//
//   wall_ms              from just before CreateProcessW to the end of the wait
//   exit_code            the 32-bit exit code, hexadecimal
//   peak_working_set     the largest PeakWorkingSetSize seen
//   peak_private         the largest PagefileUsage / PeakPagefileUsage seen
//
// The counters are read every few milliseconds while the program runs, not
// once after it ended: under Wine they describe the live Unix process (its
// resident-set high-water mark, and its current private memory as "peak
// pagefile usage"), and they read as zero once it is gone.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>

#include "demo/command_line_tail.h"

namespace {

constexpr DWORD kPollMilliseconds = 2;

struct Peaks {
  SIZE_T working_set = 0;
  SIZE_T private_bytes = 0;
  int samples = 0;
};

void Sample(HANDLE process, Peaks* peaks) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(process, &counters, sizeof(counters))) return;
  ++peaks->samples;
  const SIZE_T working_set = counters.PeakWorkingSetSize > counters.WorkingSetSize
                                 ? counters.PeakWorkingSetSize
                                 : counters.WorkingSetSize;
  if (working_set > peaks->working_set) peaks->working_set = working_set;
  const SIZE_T private_bytes = counters.PeakPagefileUsage > counters.PagefileUsage
                                   ? counters.PeakPagefileUsage
                                   : counters.PagefileUsage;
  if (private_bytes > peaks->private_bytes) peaks->private_bytes = private_bytes;
}

}  // namespace

int wmain() {
  const wchar_t* tail = vireo::CommandLineTail(::GetCommandLineW());
  if (!*tail) {
    std::fwprintf(stderr, L"usage: bench-run PROGRAM [ARGUMENTS...]\n");
    return 2;
  }

  wchar_t* command_line = _wcsdup(tail);
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  PROCESS_INFORMATION process = {};
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  if (!::CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup_info, &process)) {
    std::fwprintf(stderr, L"bench-run: cannot start %ls (error %lu)\n", tail, ::GetLastError());
    return 2;
  }
  Peaks peaks;
  while (::WaitForSingleObject(process.hProcess, kPollMilliseconds) == WAIT_TIMEOUT) {
    Sample(process.hProcess, &peaks);
  }
  ::QueryPerformanceCounter(&end);
  Sample(process.hProcess, &peaks);
  DWORD exit_code = 0;
  ::GetExitCodeProcess(process.hProcess, &exit_code);

  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);

  std::wprintf(L"wall_ms=%.1f\n", static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                                      static_cast<double>(frequency.QuadPart));
  std::wprintf(L"exit_code=0x%08lX\n", exit_code);
  std::wprintf(L"peak_working_set=%lu\n", static_cast<unsigned long>(peaks.working_set));
  std::wprintf(L"peak_private=%lu\n", static_cast<unsigned long>(peaks.private_bytes));
  std::wprintf(L"memory_samples=%d\n", peaks.samples);
  return 0;
}
