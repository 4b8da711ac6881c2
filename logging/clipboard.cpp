#include "logging/clipboard.h"

#include <cstring>

namespace vireo {

void CopyTextToClipboard(const wchar_t* text) {
  const int length = ::lstrlenW(text);
  if (!::OpenClipboard(nullptr)) return;
  ::EmptyClipboard();
  const SIZE_T bytes = (static_cast<SIZE_T>(length) + 1) * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes);
  void* locked = memory ? ::GlobalLock(memory) : nullptr;
  if (locked) {
    std::memcpy(locked, text, bytes);
    ::GlobalUnlock(memory);
    // On success the clipboard owns the memory. (A null handle would announce
    // text to be rendered later, which nobody will do: never pass one.)
    if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
  } else if (memory) {
    ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

}  // namespace vireo
