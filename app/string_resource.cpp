#include "app/string_resource.h"

#include "base/unique_handle.h"

namespace vireo {

namespace {

constexpr UINT kStringsPerBlock = 16;

// The entry at `index` of a string-table block: a count of UTF-16 code units
// followed by that many units, for each of the 16 entries in a row. Null (and a
// zero length) when the block ends first or the entry is empty.
const wchar_t* FindBlockEntry(const void* block, DWORD block_bytes, UINT index,
                              size_t* length) {
  const auto* unit = static_cast<const WORD*>(block);
  const WORD* end = unit + block_bytes / sizeof(WORD);
  for (UINT i = 0; i < index; ++i) {
    if (unit >= end) return nullptr;
    const size_t count = *unit;
    if (count >= static_cast<size_t>(end - unit)) return nullptr;
    unit += 1 + count;
  }
  if (unit >= end || *unit == 0 || *unit >= static_cast<size_t>(end - unit)) return nullptr;
  *length = *unit;
  return reinterpret_cast<const wchar_t*>(unit + 1);
}

bool ReadBlockEntry(HMODULE module, HRSRC resource, UINT index, WideString* text) {
  if (!resource) return false;
  const HGLOBAL loaded = ::LoadResource(module, resource);
  const void* block = loaded ? ::LockResource(loaded) : nullptr;
  if (!block) return false;
  size_t length = 0;
  const wchar_t* entry = FindBlockEntry(block, ::SizeofResource(module, resource), index, &length);
  if (!entry) return false;
  text->Assign(entry, length);
  return true;
}

}  // namespace

bool LoadStringById(UINT id, WideString* text) {
  text->Clear();
  const LPCWSTR block_name = MAKEINTRESOURCEW(id / kStringsPerBlock + 1);
  const UINT index = id % kStringsPerBlock;

  // The stub is its only resource module: it holds the string when the block
  // exists for the thread's language and carries the entry.
  const HMODULE module = ::GetModuleHandleW(nullptr);
  WideString probe;
  if (!ReadBlockEntry(module, ::FindResourceExW(module, RT_STRING, block_name, 0), index,
                      &probe)) {
    return false;
  }
  // The block in the language the resource loader chooses for this thread.
  return ReadBlockEntry(module, ::FindResourceW(module, block_name, RT_STRING), index, text);
}

WideString FormatStringById(UINT id, const wchar_t* insert) {
  WideString formatted;
  WideString format;
  if (!LoadStringById(id, &format)) return formatted;

  DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(insert)};
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      format.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&buffer), 0,
      reinterpret_cast<va_list*>(inserts));
  UniqueLocalMemory owned(buffer);
  if (length && buffer) formatted.Assign(buffer, length);
  return formatted;
}

}  // namespace vireo
