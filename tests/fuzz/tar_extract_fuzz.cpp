// Walks a whole tar image the way the stub's Tar::ExtractToDir does, with the
// same step (DecideTarStep) over memory instead of a file: header, widened
// name check, size and next position, member data copied, on to the next
// header. The first input byte picks how names are widened: byte for byte, or
// as a double-byte code page whose trail bytes can be 0x5C. A finding is a
// crash, a sanitizer report, or a walk that breaks what the stub relies on:
// every member it would write has a plain file name, its data lies within the
// image, and each header lies further on than the last.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "payload/member_name.h"
#include "payload/tar_header.h"
#include "payload/tar_step.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Every byte its own character, as a single-byte code page does.
std::wstring WidenBytes(const char* text, size_t length) {
  std::wstring wide;
  for (size_t i = 0; i < length; ++i) wide += static_cast<wchar_t>(static_cast<uint8_t>(text[i]));
  return wide;
}

bool IsLeadByte(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// A lead byte and the byte after it make one character, as in Shift JIS; a
// lead byte at the end stands for itself.
std::wstring WidenDoubleByte(const char* text, size_t length) {
  std::wstring wide;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (IsLeadByte(c) && i + 1 < length) {
      wide += static_cast<wchar_t>(0x4E00 + (c << 8 | static_cast<uint8_t>(text[++i])) % 0x5000);
    } else {
      wide += static_cast<wchar_t>(c);
    }
  }
  return wide;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool double_byte = data[0] & 1;
  const uint8_t* image = data + 1;
  const uint32_t image_size = static_cast<uint32_t>(size - 1);

  uint32_t position = 0;
  for (;;) {
    // ReadFile of a whole header, or the archive ends without its end block.
    if (position > image_size || image_size - position < vireo::kTarBlockSize) return 0;
    const uint8_t* header = image + position;
    const uint32_t data_position = position + vireo::kTarBlockSize;

    std::wstring name;
    vireo::TarMember member;
    bool asked_position = false;
    const vireo::TarStep step = vireo::DecideTarStep(
        header,
        [double_byte](const char* text, size_t length) {
          return double_byte ? WidenDoubleByte(text, length) : WidenBytes(text, length);
        },
        [&](uint32_t* at) {
          asked_position = true;
          *at = data_position;
          return true;
        },
        &name, &member);
    Require(step != vireo::TarStep::kPositionUnavailable);
    if (step != vireo::TarStep::kMember) {
      // Nothing past the name check asks where the data starts.
      Require(asked_position == (step == vireo::TarStep::kCannotBeFollowed));
      return 0;
    }

    // What the stub would create inside its target directory.
    Require(!name.empty() && name.length() <= vireo::kTarNameFieldSize);
    for (const wchar_t c : name) Require(c >= 0x20 && c != L'\\' && c != L'/' && c != L':');
    // Where every byte is its own character both forms of the check agree.
    if (!double_byte) {
      Require(vireo::IsSafeMemberName(reinterpret_cast<const char*>(header),
                                      vireo::TarNameLength(header)));
    }
    // The data and its padding, then the next header, a whole number of blocks on.
    Require(member.next_position >= data_position + member.size);
    Require(member.next_position - data_position - member.size < vireo::kTarBlockSize);
    Require(member.next_position % vireo::kTarBlockSize == 0);
    Require(member.next_position < vireo::kTarPositionLimit);

    // CopyMember: a member that does not arrive whole fails the walk.
    if (member.size > image_size - data_position) return 0;
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < member.size; ++i) sum = sum + image[data_position + i];
    position = member.next_position;
  }
}
