#pragma once
// The stub's own file, held open from the start of the run until the child is
// started. The copy beside the unpacked files and the tag both come from this
// handle, so that a file renamed into the stub's place meanwhile (the stub's
// folder may be writable by others, a download folder) is neither copied nor
// believed.

#include <windows.h>

#include "base/owned_string.h"
#include "base/unique_handle.h"

namespace vireo {

class SelfImage {
 public:
  SelfImage() = default;
  SelfImage(const SelfImage&) = delete;
  SelfImage& operator=(const SelfImage&) = delete;

  // Opens the file `module` (null: the program) was loaded from, sharing read access only (no
  // writer, no rename or delete while held), and checks that its headers are
  // the ones of the loaded image. False, with the cause logged and in
  // GetLastError(), when it cannot be had; nothing is held then.
  bool Open(HMODULE module);
  bool is_open() const { return file_.is_valid(); }

  // Writes the whole file to `target`, created or replaced. False, with the
  // cause in GetLastError(), on failure; a partly written `target` is left for
  // the caller, who records it before calling.
  bool CopyTo(const wchar_t* target) const;

  // The file's tag as ReadTag (tag/tag_reader.h) reads it; empty when there is
  // none or the file is not open.
  NarrowString ReadTag() const;

  // Lets go of the file, so that the child may copy, move or delete it.
  void Close() { file_.reset(); }

 private:
  UniqueFile file_;
};

}  // namespace vireo
