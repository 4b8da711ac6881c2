#include "app/run_files.h"

namespace vireo {

RunFiles::~RunFiles() {
  for (size_t i = 0; i < files_.size(); ++i) {
    if (files_[i].unpacked) ::DeleteFileW(files_[i].path.c_str());
  }
  if (keep_requested_) return;
  for (size_t i = 0; i < files_.size(); ++i) {
    if (!files_[i].unpacked) ::DeleteFileW(files_[i].path.c_str());
  }
  if (!work_.temp_dir.empty()) ::RemoveDirectoryW(work_.temp_dir.c_str());
}

void RunFiles::Record(const wchar_t* path, bool unpacked) {
  files_.TryAppend(CreatedFile{WideString(path), unpacked});
}

}  // namespace vireo
