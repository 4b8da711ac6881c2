#include "app/self_image.h"

#include <cstddef>
#include <cstring>

#include "base/heap.h"
#include "base/module_path.h"
#include "base/pe_layout.h"
#include "logging/log_interface.h"
#include "tag/tag_reader.h"

namespace vireo {

namespace {

// The loaded image's headers lie in its first page; so do the file's.
constexpr DWORD kHeaderCheckBytes = 4096;
constexpr DWORD kCopyChunkBytes = 1 << 20;

// The image's own headers, PE32 in the 32-bit stub and PE32+ in the 64-bit
// one, and in them the optional header's ImageBase, which the loader rewrites
// when it moves the image.
using NtHeaders = IMAGE_NT_HEADERS;
constexpr DWORD kImageBaseOffset = offsetof(NtHeaders, OptionalHeader.ImageBase);
constexpr DWORD kImageBaseSize = sizeof(NtHeaders::OptionalHeader.ImageBase);
static_assert(kImageBaseOffset == pe::kOptionalHeader + (sizeof(void*) == 8
                                                             ? pe::kPe32PlusImageBaseField
                                                             : pe::kImageBaseField),
              "the ImageBase of the image's own format");

// True when the file's first bytes are the module's headers as loaded, the
// image base aside.
bool HeadersMatchLoadedImage(HANDLE file, HMODULE module) {
  const auto* image = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  const DWORD nt_offset = static_cast<DWORD>(dos->e_lfanew);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || nt_offset > kHeaderCheckBytes - sizeof(NtHeaders)) {
    return false;
  }
  const auto* nt = reinterpret_cast<const NtHeaders*>(image + nt_offset);
  DWORD header_bytes = nt->OptionalHeader.SizeOfHeaders;
  if (header_bytes > kHeaderCheckBytes) header_bytes = kHeaderCheckBytes;
  if (header_bytes < nt_offset + sizeof(NtHeaders)) return false;

  uint8_t on_disk[kHeaderCheckBytes];
  DWORD read = 0;
  OVERLAPPED at_start = {};
  if (!::ReadFile(file, on_disk, header_bytes, &read, &at_start) || read != header_bytes) {
    return false;
  }
  const DWORD image_base = nt_offset + kImageBaseOffset;
  const DWORD after_image_base = image_base + kImageBaseSize;
  return std::memcmp(on_disk, image, image_base) == 0 &&
         std::memcmp(on_disk + after_image_base, image + after_image_base,
                     header_bytes - after_image_base) == 0;
}

}  // namespace

bool SelfImage::Open(HMODULE module) {
  file_.reset();
  // A null module is the program itself, for the path as for the image.
  if (!module) module = ::GetModuleHandleW(nullptr);
  WideString path;
  if (!ReadModulePath(module, &path)) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"GetModuleFileName failed err:%d module_path:%s",
              ::GetLastError(), path.c_str());
    // Only a cut path leaves one behind.
    if (!path.empty()) ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    LogFailedCall(L"CreateFile of the stub's own file", path.c_str());
    return false;
  }
  // Another file may have taken the name between the start of the process and
  // this open.
  if (!HeadersMatchLoadedImage(file.get(), module)) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"the stub's own file is not the image that was started path:%s",
              path.c_str());
    ::SetLastError(ERROR_FILE_INVALID);
    return false;
  }
  file_ = std::move(file);
  return true;
}

bool SelfImage::CopyTo(const wchar_t* target) const {
  if (!file_) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  // Read a chunk at a time rather than mapped whole: a view of the file would
  // page in a second copy of the image beside the one the loader mapped.
  const UniqueHeapBlock buffer(HeapAllocate(kCopyChunkBytes));
  if (!buffer) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  UniqueFile copy(::CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!copy) return false;
  // Each read names its offset, so the handle's position (which the header
  // check and nobody else uses) does not matter.
  OVERLAPPED at = {};
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file_.get(), buffer.get(), kCopyChunkBytes, &read, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) return true;
      return false;
    }
    if (read == 0) return true;
    DWORD written = 0;
    if (!::WriteFile(copy.get(), buffer.get(), read, &written, nullptr)) return false;
    if (written != read) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    const uint64_t next = ((static_cast<uint64_t>(at.OffsetHigh) << 32) | at.Offset) + read;
    at.Offset = static_cast<DWORD>(next);
    at.OffsetHigh = static_cast<DWORD>(next >> 32);
  }
}

NarrowString SelfImage::ReadTag() const {
  if (!file_) ::SetLastError(ERROR_INVALID_HANDLE);
  return ExtractTag(file_.get(), L"(the stub's own file)");
}

}  // namespace vireo
