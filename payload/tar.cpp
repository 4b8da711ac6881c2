#include "payload/tar.h"

#include "base/heap.h"
#include "base/text_conversion.h"
#include "base/unique_handle.h"
#include "logging/log_interface.h"
#include "payload/tar_header.h"
#include "payload/tar_step.h"

namespace vireo {
namespace {

constexpr DWORD kCopyBufferSize = 262144;

}  // namespace

Tar::Tar(const wchar_t* target_dir, HANDLE archive) : target_dir_(target_dir), archive_(archive) {
  // Paths are built as directory + '\\' + name.
  if (!target_dir_.empty() && target_dir_[target_dir_.length() - 1] == L'\\') {
    target_dir_.Truncate(target_dir_.length() - 1);
  }
}

Tar::~Tar() { HeapRelease(copy_buffer_); }

void Tar::SetFileCallback(ExtractedFileCallback callback, void* context) {
  callback_ = callback;
  callback_context_ = context;
}

bool Tar::ExtractToDir() {
  VIREO_LOG_FUNCTION(L"vireo::Tar");
  if (!copy_buffer_) {
    copy_buffer_ = static_cast<uint8_t*>(HeapAllocate(kCopyBufferSize));
    if (!copy_buffer_) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      LogFailedCall(L"HeapAlloc");
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
  const BOOL header_read = ::ReadFile(archive_, header, kTarBlockSize, &read, nullptr);
  if (!header_read || read != kTarBlockSize) {
    // A short read: an archive that ends without its end-of-archive block.
    if (header_read) ::SetLastError(ERROR_HANDLE_EOF);
    LogFailedCall(L"ReadFile");
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
      LogFailedCall(L"tar header");
      return false;
    case TarStep::kUnsafeName:
      ::SetLastError(ERROR_INVALID_NAME);
      LogFailedCall(L"tar header", name.c_str());
      return false;
    case TarStep::kPositionUnavailable:
      LogFailedCall(L"SetFilePointer");
      return false;
    case TarStep::kMember:
      break;
  }

  WideString path(target_dir_);
  path.Append(L'\\');
  path.Append(name);
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY, nullptr));
  if (!file) {
    LogFailedCall(L"CreateFile", path.c_str());
    return false;
  }
  if (!CopyMember(file.get(), member.size, path.c_str())) {
    // A member that did not arrive whole is not left behind (nor reported).
    const DWORD copy_error = ::GetLastError();
    file.reset();
    ::DeleteFileW(path.c_str());
    ::SetLastError(copy_error);
    return false;
  }
  file.reset();
  if (callback_) callback_(callback_context_, path.c_str());
  if (::SetFilePointer(archive_, static_cast<LONG>(member.next_position), nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    LogFailedCall(L"SetFilePointer");
    return false;
  }
  return true;
}

bool Tar::CopyMember(HANDLE file, uint32_t size, const wchar_t* path) {
  uint32_t remaining = size;
  while (remaining > 0) {
    const DWORD chunk = remaining < kCopyBufferSize ? remaining : kCopyBufferSize;
    DWORD read = 0;
    const BOOL data_read = ::ReadFile(archive_, copy_buffer_, chunk, &read, nullptr);
    if (!data_read || read != chunk) {
      if (data_read) ::SetLastError(ERROR_HANDLE_EOF);
      LogFailedCall(L"ReadFile", path);
      return false;
    }
    DWORD written = 0;
    const BOOL data_written = ::WriteFile(file, copy_buffer_, chunk, &written, nullptr);
    if (!data_written || written != chunk) {
      if (data_written) ::SetLastError(ERROR_WRITE_FAULT);
      LogFailedCall(L"WriteFile", path);
      return false;
    }
    remaining -= chunk;
  }
  return true;
}

}  // namespace vireo
