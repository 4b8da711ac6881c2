#include "payload/tar.h"

#include "base/heap.h"
#include "base/logging/log_interface.h"
#include "base/text_conversion.h"
#include "base/unique_handle.h"
#include "payload/tar_header.h"
#include "payload/tar_step.h"

namespace vireo {
namespace {

constexpr DWORD kCopyBufferSize = 262144;

}  // namespace

Tar::Tar(const wchar_t* target_dir, HANDLE archive, bool delete_at_destruction)
    : target_dir_(target_dir), archive_(archive), delete_at_destruction_(delete_at_destruction) {
  // Paths are built as directory + '\\' + name.
  if (!target_dir_.empty() && target_dir_[target_dir_.length() - 1] == L'\\') {
    target_dir_.Truncate(target_dir_.length() - 1);
  }
}

Tar::~Tar() {
  for (size_t i = 0; i < written_files_.size(); ++i) ::DeleteFileW(written_files_[i].c_str());
  HeapRelease(copy_buffer_);
}

void Tar::SetFileCallback(ExtractedFileCallback callback, void* context) {
  callback_ = callback;
  callback_context_ = context;
}

bool Tar::ExtractToDir() {
  VIREO_LOG_FUNCTION(L"vireo::Tar::ExtractToDir");
  if (!copy_buffer_) {
    copy_buffer_ = static_cast<uint8_t*>(HeapAllocate(kCopyBufferSize));
    if (!copy_buffer_) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
  }
  bool done = false;
  while (!done) {
    if (!ExtractOneFile(&done)) return false;
  }
  return true;
}

bool Tar::ExtractOneFile(bool* done) {
  uint8_t header[kTarBlockSize];
  DWORD read = 0;
  if (!::ReadFile(archive_, header, kTarBlockSize, &read, nullptr)) return false;
  if (read != kTarBlockSize) {
    // An archive that ends without its end-of-archive block.
    ::SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  WideString name;
  TarMember member;
  const TarStep step = DecideTarStep(
      header,
      [](const char* text, size_t length) { return WidenFromThreadCodePage(text, length); },
      [this](uint32_t* position) {
        const DWORD current = ::SetFilePointer(archive_, 0, nullptr, FILE_CURRENT);
        if (current == INVALID_SET_FILE_POINTER) return false;
        *position = current;
        return true;
      },
      &name, &member);
  switch (step) {
    case TarStep::kEndOfArchive:
      *done = true;
      return true;
    case TarStep::kBadHeader:
    case TarStep::kCannotBeFollowed:
      ::SetLastError(ERROR_BAD_FORMAT);
      return false;
    case TarStep::kUnsafeName:
      ::SetLastError(ERROR_INVALID_NAME);
      return false;
    case TarStep::kPositionUnavailable:
      return false;
    case TarStep::kMember:
      break;
  }

  WideString path(target_dir_);
  path.Append(L'\\');
  path.Append(name);
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY, nullptr));
  if (!file) return false;
  const bool copied = CopyMember(file.get(), member.size);
  const DWORD copy_error = ::GetLastError();
  file.reset();
  // A member that did not arrive whole is not left behind (nor reported).
  if (!copied) ::DeleteFileW(path.c_str());

  if (copied) {
    // A path that cannot be recorded is not deleted later; extraction goes on.
    if (delete_at_destruction_) written_files_.TryAppend(path);
    if (callback_) callback_(callback_context_, path.c_str());
  }
  if (::SetFilePointer(archive_, static_cast<LONG>(member.next_position), nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    return false;
  }
  if (!copied) ::SetLastError(copy_error);
  return copied;
}

bool Tar::CopyMember(HANDLE file, uint32_t size) {
  uint32_t remaining = size;
  while (remaining > 0) {
    const DWORD chunk = remaining < kCopyBufferSize ? remaining : kCopyBufferSize;
    DWORD read = 0;
    if (!::ReadFile(archive_, copy_buffer_, chunk, &read, nullptr)) return false;
    if (read != chunk) {
      ::SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    DWORD written = 0;
    if (!::WriteFile(file, copy_buffer_, chunk, &written, nullptr)) return false;
    if (written != chunk) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    remaining -= chunk;
  }
  return true;
}

}  // namespace vireo
