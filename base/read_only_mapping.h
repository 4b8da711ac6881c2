#pragma once
// A whole file mapped read-only: the file, its mapping and one view of it,
// released exactly once each, view first, then mapping, then file.

#include <windows.h>

#include <cstdint>

#include "base/unique_handle.h"

namespace vireo {

class ReadOnlyMapping {
 public:
  ReadOnlyMapping() = default;
  ReadOnlyMapping(const ReadOnlyMapping&) = delete;
  ReadOnlyMapping& operator=(const ReadOnlyMapping&) = delete;
  // The members go in reverse order of declaration: view, mapping, file.
  ~ReadOnlyMapping() = default;

  // Closes whatever is open, then opens, maps and measures `path` (read access,
  // others may read too). False when a step failed, with that step's error in
  // GetLastError(); nothing is held open then.
  bool open(const wchar_t* path);
  // The same over a file already open for reading; `file` stays the caller's
  // (a duplicate is held while mapped).
  bool open(HANDLE file);
  // Releases the view, the mapping and the file; the object is as new after it.
  void close();

  bool is_open() const { return view_.is_valid(); }
  const uint8_t* view() const { return static_cast<const uint8_t*>(view_.get()); }
  // The view's region size: the file size raised to whole pages.
  uint32_t mapped_size() const { return mapped_size_; }

 private:
  // Maps `file`, taking it over; nothing is held on failure.
  bool Map(UniqueFile file);

  UniqueFile file_;
  UniqueKernelHandle mapping_;
  UniqueMappedView view_;
  uint32_t mapped_size_ = 0;
};

}  // namespace vireo
