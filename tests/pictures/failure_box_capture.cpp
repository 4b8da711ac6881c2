// Starts a stub that is expected to stop with the failure box, finds the box,
// reports what it shows, saves a picture of it, presses OK and reports the
// stub's exit code. take_pictures.sh runs it under a virtual X server and
// converts the picture, an uncompressed BMP file, to PNG on the host.
//
//   failure_box_capture STUB.exe PICTURE.bmp
//
// Prints UTF-8 lines "title=", "text=", "buttons=" (button texts joined by
// " | "), "icon=" (none or shown), "owner=" (none or a handle) and "exit=0x..."
// on success; a line "error=..." and exit code 1 otherwise. Paths may be Unix
// paths (Wine's drive Z:).
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/support/windows_test_files.h"
#include "tests/support/wine_path.h"

namespace {

constexpr DWORD kBoxWaitMs = 60000;
constexpr DWORD kExitWaitMs = 30000;
constexpr int kMessageTextId = 0xFFFF;

void Print(const std::wstring& line) {
  const std::string utf8 = vireo::test::ToUtf8(line + L"\n");
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()),
            &written, nullptr);
}

int Fail(const std::wstring& message) {
  Print(L"error=" + message + L" (error " + std::to_wstring(GetLastError()) + L")");
  return 1;
}

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// The visible top-level dialog window of process `process_id`, or null.
HWND FindBox(DWORD process_id) {
  for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window;
       window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
    DWORD owner_process = 0;
    GetWindowThreadProcessId(window, &owner_process);
    if (owner_process == process_id && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

struct Controls {
  std::vector<std::wstring> buttons;
  bool icon = false;
};

BOOL CALLBACK AddControl(HWND child, LPARAM found) {
  auto* controls = reinterpret_cast<Controls*>(found);
  if (!IsWindowVisible(child)) return TRUE;
  const std::wstring name = ClassOf(child);
  if (lstrcmpiW(name.c_str(), L"Button") == 0) controls->buttons.push_back(WindowText(child));
  const LONG style = GetWindowLongW(child, GWL_STYLE);
  // Wine keeps an icon control in every box; it counts when it holds an icon.
  if (lstrcmpiW(name.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
      SendMessageW(child, STM_GETICON, 0, 0) != 0) {
    controls->icon = true;
  }
  return TRUE;
}

// Lets the box's thread finish painting: a sent message returns only once the
// thread is back in its message loop, and painting follows when it is idle.
void WaitUntilPainted(HWND box) {
  for (int round = 0; round < 3; ++round) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(box, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &result);
    Sleep(300);
  }
}

template <typename Header>
void Append(const Header& header, std::vector<uint8_t>* bytes) {
  const auto* first = reinterpret_cast<const uint8_t*>(&header);
  bytes->insert(bytes->end(), first, first + sizeof(header));
}

// The pixels of the screen rectangle of `box` as a BMP file: the 24-bit DIB
// that the screen is copied into, behind the file and bitmap headers. Empty
// on failure.
std::vector<uint8_t> CaptureBitmapFile(HWND box) {
  RECT rect;
  if (!GetWindowRect(box, &rect)) return {};
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return {};

  // Rows bottom first, as BMP files keep them; blue, green, red, each row
  // padded to four bytes.
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  info.bmiHeader.biSizeImage = static_cast<DWORD>(stride * height);

  BITMAPFILEHEADER file_header = {};
  file_header.bfType = 0x4D42;  // "BM"
  file_header.bfOffBits = sizeof(file_header) + sizeof(info.bmiHeader);
  file_header.bfSize = file_header.bfOffBits + info.bmiHeader.biSizeImage;

  std::vector<uint8_t> file;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (memory && bitmap && bits) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT)) {
      GdiFlush();
      Append(file_header, &file);
      Append(info.bmiHeader, &file);
      const auto* pixels = static_cast<const uint8_t*>(bits);
      file.insert(file.end(), pixels, pixels + info.bmiHeader.biSizeImage);
    }
    SelectObject(memory, previous);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return file;
}

std::wstring Hex(DWORD value) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count != 3) {
    Print(L"error=usage: failure_box_capture STUB.exe PICTURE.bmp");
    return 2;
  }
  auto windows_path = [](const wchar_t* argument) {
    return argument[0] == L'/'
               ? vireo::test::WindowsPathFromUnix(std::string(argument, argument + wcslen(argument)))
               : std::wstring(argument);
  };
  const std::wstring stub = windows_path(arguments[1]);
  const std::wstring picture = windows_path(arguments[2]);
  LocalFree(arguments);

  std::wstring command_line = L"\"" + stub + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(stub.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return Fail(L"cannot start " + stub);
  }
  CloseHandle(process.hThread);

  HWND box = nullptr;
  const DWORD start = GetTickCount();
  while (!(box = FindBox(process.dwProcessId))) {
    if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(process.hProcess, &code);
      return Fail(L"the stub ended with " + Hex(code) + L" without showing a box");
    }
    if (GetTickCount() - start > kBoxWaitMs) {
      TerminateProcess(process.hProcess, 1);
      return Fail(L"no box within " + std::to_wstring(kBoxWaitMs / 1000) + L" s");
    }
  }

  // The box is the foreground window, but with no window manager on the
  // virtual X server Wine's desktop never gets the input focus, and Wine paints
  // the caption as inactive; have it painted as the active window it is.
  SetForegroundWindow(box);
  SendMessageW(box, WM_NCACTIVATE, TRUE, 0);
  WaitUntilPainted(box);

  wchar_t text[2048] = {};
  GetDlgItemTextW(box, kMessageTextId, text, 2048);
  Controls controls;
  EnumChildWindows(box, AddControl, reinterpret_cast<LPARAM>(&controls));
  std::wstring buttons;
  for (const std::wstring& button : controls.buttons) {
    buttons += (buttons.empty() ? L"" : L" | ") + button;
  }
  const HWND owner = GetWindow(box, GW_OWNER);
  const std::vector<uint8_t> picture_file = CaptureBitmapFile(box);

  Print(L"title=" + WindowText(box));
  Print(L"text=" + std::wstring(text));
  Print(L"buttons=" + buttons);
  Print(std::wstring(L"icon=") + (controls.icon ? L"shown" : L"none"));
  Print(L"owner=" + (owner ? Hex(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(owner))) : L"none"));

  // Pressing OK is what ends the stub; close the box before reporting a
  // capture failure too.
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  if (WaitForSingleObject(process.hProcess, kExitWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    return Fail(L"the stub did not end after OK");
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  if (picture_file.empty()) return Fail(L"cannot capture the box");
  try {
    vireo::test::WriteFileBytes(picture, picture_file);
  } catch (const std::runtime_error&) {
    return Fail(L"cannot write " + picture);
  }
  Print(L"exit=" + Hex(exit_code));
  return 0;
}
