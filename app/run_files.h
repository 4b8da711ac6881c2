#pragma once
// Everything one run creates on disk, and the one rule for removing it: the
// unpacked files always go; the tar file, the stub's copy and the work
// directory go unless the child asked to keep them.

#include <windows.h>

#include "app/temp_directory.h"
#include "base/growable_array.h"
#include "base/owned_string.h"

namespace vireo {

// One file the run created.
struct CreatedFile {
  WideString path;
  // A member of the payload: removed even when the child asks to keep files.
  bool unpacked;
};

class RunFiles {
 public:
  RunFiles() = default;
  // Applies the rule: every unpacked file in the order of creation; then,
  // unless KeepOnRequest was called, the other files in that order and the work
  // directory (which goes only when empty: files the child left stay). Results
  // are ignored; temp_root is never removed.
  ~RunFiles();
  RunFiles(const RunFiles&) = delete;
  RunFiles& operator=(const RunFiles&) = delete;

  WorkDirectory& work() { return work_; }
  const WorkDirectory& work() const { return work_; }

  // Records `path` before or after it is written; a path that cannot be
  // recorded (the list cannot grow) is simply not removed.
  void RecordUnpacked(const wchar_t* path) { Record(path, true); }
  void RecordKeepable(const wchar_t* path) { Record(path, false); }

  // The child ended asking for its files: only the unpacked ones go.
  void KeepOnRequest() { keep_requested_ = true; }

  // In the order of creation.
  const GrowableArray<CreatedFile>& files() const { return files_; }

 private:
  void Record(const wchar_t* path, bool unpacked);

  WorkDirectory work_;
  GrowableArray<CreatedFile> files_;
  bool keep_requested_ = false;
};

}  // namespace vireo
