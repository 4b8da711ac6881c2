#pragma once
// Small file utilities of the log writer. They log their own failures (in
// LC_UTIL) while the logging object is alive.

#include <windows.h>

namespace vireo {

class File {
 public:
  File() = delete;

  // S_OK with *is_reparse_point set from the attributes of `path`; on failure
  // the HRESULT of the attribute read, and *is_reparse_point is untouched.
  static HRESULT IsReparsePoint(const wchar_t* path, bool* is_reparse_point);

  // Moves `from` to `to`, replacing it, copying across volumes and writing
  // through. S_OK, or the HRESULT of the failed move.
  static HRESULT Move(const wchar_t* from, const wchar_t* to);

  // Schedules the move of `from` to `to` for the next reboot (replacing `to`
  // unless `from` is a directory). S_OK; 0x80070002 when `from` does not
  // exist; else the HRESULT of the failed scheduling.
  static HRESULT MoveAfterReboot(const wchar_t* from, const wchar_t* to);
};

}  // namespace vireo
