#pragma once
// Small file utilities of the log writer. They log their own failures (in
// LC_UTIL) while the logging object is alive.

#include <windows.h>

#include "base/unique_handle.h"

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

  // Renames the file behind `file` (a handle with any access; it is opened
  // again with DELETE for the rename) to `to_name`, one name without a
  // folder, inside the folder behind `folder`, replacing a file of that name.
  // What moves is the file the handle was opened on, whatever its path names
  // by now. S_OK, or the HRESULT of the failed open or rename.
  static HRESULT Move(HANDLE file, HANDLE folder, const wchar_t* to_name);

  // Schedules the move of `from` to `to` for the next reboot (replacing `to`
  // unless `from` is a directory). S_OK; 0x80070002 when `from` does not
  // exist; else the HRESULT of the failed scheduling.
  static HRESULT MoveAfterReboot(const wchar_t* from, const wchar_t* to);

  // Opens `name`, one name without a folder, inside the folder behind
  // `folder`; with an empty name, opens the file or folder behind `folder`
  // once more, with other access. The open is relative to the handle, so no
  // path above it is looked up again. `disposition` is FILE_OPEN or
  // FILE_OPEN_IF, `options` those of NtCreateFile (FILE_NON_DIRECTORY_FILE,
  // FILE_OPEN_REPARSE_POINT, ...); the handle does synchronous I/O like one
  // from CreateFileW. S_OK with *file set, else the HRESULT of the failed
  // open, which is also the thread's last error (not logged: a missing file
  // is an ordinary answer).
  static HRESULT OpenRelative(HANDLE folder, const wchar_t* name, ACCESS_MASK access, DWORD share,
                              DWORD disposition, DWORD options, UniqueFile* file);
};

}  // namespace vireo
