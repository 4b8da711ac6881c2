#include <windows.h>

#include "app/startup.h"

// The narrow-character GUI entry: the runtime hands over the command-line tail.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdline_tail, int) {
  return static_cast<int>(vireo::RunStub(instance, cmdline_tail ? cmdline_tail : ""));
}
