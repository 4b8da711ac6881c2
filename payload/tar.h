#pragma once
// Reader of the payload's tar archive: writes each member as a file directly
// inside a target directory and reports every file written to its owner.

#include <windows.h>

#include <cstdint>

#include "base/growable_array.h"
#include "base/owned_string.h"

namespace vireo {

// Called once per member written completely, after its file was closed. `path`
// is the full path, valid only during the call.
using ExtractedFileCallback = void (*)(void* context, const wchar_t* path);

class Tar {
 public:
  // `archive` is positioned at the first header; it is read and seeked but
  // never closed, and must outlive the Tar. With `delete_at_destruction`, every
  // file written completely is recorded and deleted by the destructor.
  Tar(const wchar_t* target_dir, HANDLE archive, bool delete_at_destruction);
  // Deletes the recorded files in archive order, ignoring failures; leaves the
  // archive handle and the target directory alone.
  ~Tar();
  Tar(const Tar&) = delete;
  Tar& operator=(const Tar&) = delete;

  // Sets the callback (may be null) and the context passed back to it.
  void SetFileCallback(ExtractedFileCallback callback, void* context);

  // Extracts members until the end-of-archive header. Returns true when it was
  // reached; false at the first header or member that fails, with the cause
  // in GetLastError(). Members written before a failure stay written, recorded
  // and reported; the member that failed is deleted again.
  bool ExtractToDir();

 private:
  // Reads one header and writes its member. Returns false when the header or
  // member fails; sets `done` at the end of the archive.
  bool ExtractOneFile(bool* done);
  // Copies `size` bytes from the archive to `file` through the copy buffer.
  bool CopyMember(HANDLE file, uint32_t size);

  WideString target_dir_;
  HANDLE archive_;
  bool delete_at_destruction_;
  GrowableArray<WideString> written_files_;
  ExtractedFileCallback callback_ = nullptr;
  void* callback_context_ = nullptr;
  // Allocated once by the first extraction; member data never sits whole in memory.
  uint8_t* copy_buffer_ = nullptr;
};

}  // namespace vireo
