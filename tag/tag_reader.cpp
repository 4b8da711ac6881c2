#include "tag/tag_reader.h"

#include "base/module_path.h"
#include "logging/log_interface.h"
#include "tag/tag_record.h"

namespace vireo {

namespace {

// A tag needs one byte more than its length, for its terminator.
constexpr int32_t kMaxTagBufferSize = kMaxTagRecordLength + 1;

}  // namespace

MappedFile::~MappedFile() { close(); }

bool MappedFile::open(const wchar_t* path) {
  close();
  return mapping_.open(path);
}

bool MappedFile::open(HANDLE file) {
  close();
  return mapping_.open(file);
}

void MappedFile::close() {
  mapping_.close();
  table_size_ = 0;
  table_ = nullptr;
}

bool MappedFile::GetTagBytes(const uint8_t* view, uint8_t* buffer, int32_t* size) {
  if (!size || !view) return false;
  CertificateTableLocation location{};
  if (!LookUpCertificateTable(view, mapped_size(), &location)) return false;
  table_ = view + location.offset;
  table_size_ = static_cast<int32_t>(location.size);
  return GetTagBytesFromTable(view, mapped_size(), location, buffer, size);
}

NarrowString GetTag(HMODULE module) {
  WideString path;
  if (!ReadModulePath(module, &path)) {
    LogFailedCall(L"GetModuleFileName");
    return NarrowString();
  }
  return ExtractTag(path.c_str());
}

namespace {

// ReadTag over `file` once it was opened; logs and yields no tag when it was not.
NarrowString ReadOpenedTag(MappedFile& file, bool opened, const wchar_t* label) {
  if (!opened) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"ExtractTag OpenFailed Failed err:%d module_file_name:%s",
              ::GetLastError(), label);
    return NarrowString();
  }
  NarrowString tag = ReadTag(file);
  file.close();
  return tag;
}

}  // namespace

NarrowString ExtractTag(const wchar_t* file_name) {
  if (!file_name) {
    VIREO_LOG(LC_CORE, LL_PROGRESS, L"ExtractTag empty module_file_name");
    return NarrowString();
  }
  MappedFile file;
  const bool opened = file.open(file_name);
  return ReadOpenedTag(file, opened, file_name);
}

NarrowString ExtractTag(HANDLE file, const wchar_t* label) {
  MappedFile mapped;
  const bool opened = file != INVALID_HANDLE_VALUE && mapped.open(file);
  return ReadOpenedTag(mapped, opened, label);
}

NarrowString ReadTag(MappedFile& file) {
  VIREO_LOG_FUNCTION(L"vireo::`anonymous-namespace'");

  int32_t buffer_size = 0;
  if (!file.is_open() || !file.GetTagBytes(file.view(), nullptr, &buffer_size)) {
    LogFailedCall(L"ReadTag ExtractTag");
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
    LogFailedCall(L"ReadTag ExtractTag");
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
