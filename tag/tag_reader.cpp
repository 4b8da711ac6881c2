#include "tag/tag_reader.h"

#include <utility>

#include "base/logging/log_interface.h"
#include "tag/tag_record.h"

namespace vireo {

namespace {

constexpr DWORD kPathChars = MAX_PATH;
// A tag needs one byte more than its length, for its terminator.
constexpr int32_t kMaxTagBufferSize = kMaxTagRecordLength + 1;

}  // namespace

MappedFile::~MappedFile() { close(); }

bool MappedFile::open(const wchar_t* path) {
  close();
  UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  return Map(std::move(file));
}

bool MappedFile::open(HANDLE file) {
  close();
  HANDLE duplicate = INVALID_HANDLE_VALUE;
  if (!::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  return Map(UniqueFile(duplicate));
}

bool MappedFile::Map(UniqueFile file) {
  // A step that fails leaves the owners of the earlier ones to release them in
  // reverse order (view, mapping, file), keeping the failing call's last error.
  UniqueKernelHandle mapping(
      ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return false;
  UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return false;
  MEMORY_BASIC_INFORMATION region{};
  if (::VirtualQuery(view.get(), &region, sizeof(region)) == 0) return false;

  file_ = std::move(file);
  mapping_ = std::move(mapping);
  view_ = std::move(view);
  mapped_size_ = static_cast<uint32_t>(region.RegionSize);
  return true;
}

void MappedFile::close() {
  view_.reset();
  mapping_.reset();
  file_.reset();
  mapped_size_ = 0;
  table_size_ = 0;
  table_ = nullptr;
}

bool MappedFile::GetTagBytes(const uint8_t* view, uint8_t* buffer, int32_t* size) {
  if (!size || !view) return false;
  CertificateTableLocation location{};
  if (!LookUpCertificateTable(view, mapped_size_, &location)) return false;
  table_ = view + location.offset;
  table_size_ = static_cast<int32_t>(location.size);
  return GetTagBytesFromTable(view, mapped_size_, location, buffer, size);
}

NarrowString GetTag(HMODULE module) {
  wchar_t path[kPathChars] = {};
  const DWORD length = ::GetModuleFileNameW(module, path, kPathChars);
  if (length == 0 || length >= kPathChars) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"GetModuleFileName failed err:%d", ::GetLastError());
    return NarrowString();
  }
  return ExtractTag(path);
}

NarrowString ExtractTag(const wchar_t* file_name) {
  if (!file_name) {
    VIREO_LOG(LC_CORE, 2, L"ExtractTag empty module_file_name");
    return NarrowString();
  }
  MappedFile file;
  if (!file.open(file_name)) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"ExtractTag OpenFailed Failed err:%d module_file_name:%s",
              ::GetLastError(), file_name);
    return NarrowString();
  }
  NarrowString tag = ReadTag(file);
  file.close();
  return tag;
}

NarrowString ReadTag(MappedFile& file) {
  VIREO_LOG_FUNCTION(L"vireo::`anonymous-namespace'::ReadTag");

  int32_t buffer_size = 0;
  if (!file.is_open() || !file.GetTagBytes(file.view(), nullptr, &buffer_size)) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"ReadTag ExtractTag failed err:%d", ::GetLastError());
    return NarrowString();
  }
  if (buffer_size <= 0 || buffer_size > kMaxTagBufferSize) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"ReadTag tag_buffer_size invalid:%d", buffer_size);
    return NarrowString();
  }

  // The string's own buffer (capacity plus terminator) receives the tag bytes
  // and the zero written after them.
  NarrowString tag;
  const size_t tag_length = static_cast<size_t>(buffer_size) - 1;
  tag.Reserve(tag_length);
  auto* bytes = reinterpret_cast<uint8_t*>(tag.data());
  if (!file.is_open() || !file.GetTagBytes(file.view(), bytes, &buffer_size)) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"ReadTag ExtractTag failed err:%d", ::GetLastError());
    return NarrowString();
  }

  // Only the text up to the first zero byte is the tag: that is all a narrow
  // string passes on.
  uint32_t text_length = 0;
  switch (FindTagText(bytes, static_cast<uint32_t>(tag_length), &text_length)) {
    case TagRecordStatus::kDoubleQuote:
      VIREO_LOG(LC_CORE, LL_ERROR, L"ReadTag tag contains invalid character '\"'");
      return NarrowString();
    case TagRecordStatus::kEmptyText:
      // An empty tag is no tag: the caller falls back to the default one.
      VIREO_LOG(LC_CORE, LL_ERROR, L"ReadTag tag is empty");
      return NarrowString();
    default:
      break;
  }
  tag.SetLength(text_length);
  return tag;
}

}  // namespace vireo
