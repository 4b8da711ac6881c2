#include "tests/support/scratch_folder.h"

#include <windows.h>

#include <stdexcept>

#include "tests/support/remove_tree.h"

namespace vireo::test {
namespace {

// The program's file name without its extension: a folder left behind tells
// which test program made it.
std::wstring ProgramName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, length < MAX_PATH ? length : 0);
  name.erase(0, name.find_last_of(L'\\') + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  return name.empty() ? L"test" : name;
}

}  // namespace

ScratchFolder::ScratchFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
  const std::wstring prefix =
      std::wstring(temp) + ProgramName() + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_";
  // Tests may make folders on several threads at once.
  static LONG counter = 0;
  for (;;) {
    path_ = prefix + std::to_wstring(InterlockedIncrement(&counter));
    if (CreateDirectoryW(path_.c_str(), nullptr)) return;
    // Process ids come back soon, and a process that crashed leaves its folders.
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("no scratch folder");
  }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

}  // namespace vireo::test
