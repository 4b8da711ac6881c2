#include "app/process_launch.h"

#include "base/unique_handle.h"
#include "logging/log_interface.h"

namespace vireo {

bool RunProcessAndWait(const WideString& command_line, DWORD* exit_code) {
  // CreateProcessW may write into the buffer it is given.
  WideString writable_command_line = command_line;

  // The child inherits our start-up information (title, position, ...) but is
  // always shown normally and without the busy cursor.
  STARTUPINFOW startup_info = {};
  ::GetStartupInfoW(&startup_info);
  startup_info.dwFlags |= STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK;
  startup_info.wShowWindow = SW_SHOWNORMAL;

  UniqueProcessInformation process;
  if (!::CreateProcessW(nullptr, writable_command_line.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup_info,
                        process.put())) {
    LogFailedCall(L"CreateProcess", command_line.c_str());
    if (exit_code) *exit_code = ::GetLastError();
    return false;
  }

  ::WaitForSingleObject(process.process(), INFINITE);
  bool exit_code_read = true;
  if (exit_code) exit_code_read = ::GetExitCodeProcess(process.process(), exit_code) != FALSE;
  if (!exit_code_read) LogFailedCall(L"GetExitCodeProcess");
  return exit_code_read;
}

}  // namespace vireo
