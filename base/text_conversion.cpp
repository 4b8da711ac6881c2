#include "base/text_conversion.h"

#include <windows.h>

#include <cstring>

namespace vireo {

WideString WidenFromThreadCodePage(const char* text, size_t length) {
  WideString wide;
  if (!text || length == 0 || length > 0x7FFFFFFF) return wide;
  const int count =
      ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  if (count <= 0) return wide;
  wide.Reserve(static_cast<size_t>(count));
  const int written = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length),
                                            wide.data(), count);
  wide.SetLength(written > 0 ? static_cast<size_t>(written) : 0);
  return wide;
}

WideString WidenFromThreadCodePage(const char* text) {
  return WidenFromThreadCodePage(text, text ? std::strlen(text) : 0);
}

}  // namespace vireo
