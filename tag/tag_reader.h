#pragma once
// Reads the distributor's tag back from a file on disk: the file is mapped
// read-only, never read into memory, and only its certificate table is touched.
// Every failure is logged and ends in an empty tag; the caller then falls back
// to the default tag (tag/default_tag.h).

#include <windows.h>

#include <cstdint>

#include "base/heap.h"
#include "base/owned_string.h"
#include "base/read_only_mapping.h"

namespace vireo {

// A file mapped read-only as a whole, and where the last tag lookup found its
// certificate table.
class MappedFile : public ProcessHeapObject {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  virtual ~MappedFile();

  // Closes whatever is open, then opens, maps and measures `path`. False when a
  // step failed (GetLastError() tells which); nothing is held open then.
  bool open(const wchar_t* path);
  // The same over a file already open for reading; `file` stays the caller's.
  bool open(HANDLE file);
  // Releases the view, the mapping and the file; the object is as new after it.
  void close();

  // GetTagBytes (tag/tag_record.h) over `view` bounded by this file's mapped
  // size. Records the certificate table when the image has one, even when the
  // tag record is then rejected.
  bool GetTagBytes(const uint8_t* view, uint8_t* buffer, int32_t* size);

  bool is_open() const { return mapping_.is_open(); }
  const uint8_t* view() const { return mapping_.view(); }
  // Every bound of the tag lookup refers to the mapped size.
  uint32_t mapped_size() const { return mapping_.mapped_size(); }
  const uint8_t* table() const { return table_; }
  int32_t table_size() const { return table_size_; }

 private:
  ReadOnlyMapping mapping_;
  int32_t table_size_ = 0;
  const uint8_t* table_ = nullptr;
};

// The tag of the file `module` was loaded from; empty when the module's path
// cannot be had in 260 characters or the file carries no valid tag.
NarrowString GetTag(HMODULE module);

// The tag of the file `file_name` (may be null); empty when there is none or
// the file cannot be opened.
NarrowString ExtractTag(const wchar_t* file_name);

// The tag of the file open as `file` (read access), which stays the caller's;
// `label` names it in the log line when it cannot be mapped. Empty when there
// is none.
NarrowString ExtractTag(HANDLE file, const wchar_t* label);

// The tag of an open file: the stored text up to its first zero byte (all of
// it when it has none), without terminator. Empty when the file is not open,
// has no valid tag record, the text is empty up to its first zero byte (a
// record the stub does not count as a tag), or holds a double quote there.
NarrowString ReadTag(MappedFile& file);

}  // namespace vireo
