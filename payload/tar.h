#pragma once
// Reader of the payload's tar archive: writes each member as a file directly
// inside a target directory and reports every file written to its owner, who
// decides when it goes. The Tar itself removes only a member it failed to write
// whole.

#include <windows.h>

#include <cstdint>

#include "base/owned_string.h"

namespace vireo {

// Called once per member written completely, after its file was closed. `path`
// is the full path, valid only during the call.
using ExtractedFileCallback = void (*)(void* context, const wchar_t* path);

class Tar {
 public:
  // `archive` is positioned at the first header; it is read and seeked but
  // never closed, and must outlive the Tar.
  Tar(const wchar_t* target_dir, HANDLE archive);
  ~Tar();
  Tar(const Tar&) = delete;
  Tar& operator=(const Tar&) = delete;

  // Sets the callback (may be null) and the context passed back to it.
  void SetFileCallback(ExtractedFileCallback callback, void* context);

  // Extracts members until the end-of-archive header. Returns true when it was
  // reached; false at the first header or member that fails, with the cause
  // in GetLastError() and logged where it happened. Members written before a
  // failure stay written and reported; the member that failed is deleted again.
  bool ExtractToDir();

 private:
  // Reads one header and writes its member. Returns false when the header or
  // member fails; sets `done` at the end of the archive.
  bool ExtractOneFile(bool* done);
  // Copies `size` bytes from the archive to `file` (at `path`) through the
  // copy buffer.
  bool CopyMember(HANDLE file, uint32_t size, const wchar_t* path);

  WideString target_dir_;
  HANDLE archive_;
  ExtractedFileCallback callback_ = nullptr;
  void* callback_context_ = nullptr;
  // Allocated once by the first extraction; member data never sits whole in memory.
  uint8_t* copy_buffer_ = nullptr;
};

}  // namespace vireo
