#include "logging/path_parts.h"

#include <windows.h>
#include <shlwapi.h>

namespace vireo {

WideString GetFileNameFromPath(const wchar_t* path) {
  WideString name(path);
  ::PathStripPathW(name.data());
  name.SyncLength();
  return name;
}

WideString GetDirectoryFromPath(const wchar_t* path) {
  WideString directory(path);
  ::PathRemoveFileSpecW(directory.data());
  directory.SyncLength();
  return directory;
}

}  // namespace vireo
