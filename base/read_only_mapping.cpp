#include "base/read_only_mapping.h"

#include <utility>

namespace vireo {

bool ReadOnlyMapping::open(const wchar_t* path) {
  close();
  UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  return Map(std::move(file));
}

bool ReadOnlyMapping::open(HANDLE file) {
  close();
  HANDLE duplicate = INVALID_HANDLE_VALUE;
  if (!::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  return Map(UniqueFile(duplicate));
}

bool ReadOnlyMapping::Map(UniqueFile file) {
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

void ReadOnlyMapping::close() {
  view_.reset();
  mapping_.reset();
  file_.reset();
  mapped_size_ = 0;
}

}  // namespace vireo
