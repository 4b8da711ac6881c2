// The decisions on one tar header that the stub's Tar and the fuzzers share.

#include "payload/tar_step.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace vireo {
namespace {

struct Header {
  uint8_t bytes[kTarBlockSize] = {};
};

Header Member(const std::string& name, const char* size_field) {
  Header header;
  std::memcpy(header.bytes, name.data(), name.size());
  std::memcpy(header.bytes + kTarSizeFieldOffset, size_field, std::strlen(size_field));
  std::memcpy(header.bytes + kTarMagicOffset, "ustar", 5);
  return header;
}

std::wstring Bytewise(const char* text, size_t length) {
  std::wstring wide;
  for (size_t i = 0; i < length; ++i) wide += static_cast<wchar_t>(static_cast<uint8_t>(text[i]));
  return wide;
}

TEST(DecideTarStep, DecidesInTheReadersOrder) {
  Header bad_magic = Member("a.txt", "5");
  std::memcpy(bad_magic.bytes + kTarMagicOffset, "ustaR", 5);
  const struct {
    const char* label;
    Header header;
    uint32_t data_position;
    TarStep expected;
    bool asks_position;
    uint32_t size;
    uint32_t next_position;
  } cases[] = {
      {"end of archive", Header{}, 512, TarStep::kEndOfArchive, false, 0, 0},
      {"neither member nor end", bad_magic, 512, TarStep::kBadHeader, false, 0, 0},
      {"a path is no file name", Member("dir\\a.txt", "5"), 512, TarStep::kUnsafeName, false, 0, 0},
      {"a device name", Member("con.txt", "5"), 512, TarStep::kUnsafeName, false, 0, 0},
      {"an empty name", Member("", "5"), 512, TarStep::kUnsafeName, false, 0, 0},
      {"a member padded to a block", Member("a.txt", "5"), 512, TarStep::kMember, true, 5, 1024},
      {"an empty member", Member("a.txt", "0"), 1536, TarStep::kMember, true, 0, 1536},
      {"a whole block of data", Member("a.txt", "1000"), 512, TarStep::kMember, true, 512, 1024},
      {"a negative size", Member("a.txt", "-1"), 512, TarStep::kCannotBeFollowed, true, 0, 0},
      {"the next header at 2 GiB", Member("a.txt", "17777777000"), 512, TarStep::kCannotBeFollowed,
       true, 0, 0},
      {"the next header just below 2 GiB", Member("a.txt", "17777776000"), 512, TarStep::kMember,
       true, 0x7FFFFC00u, 0x7FFFFE00u},
  };
  for (const auto& c : cases) {
    std::wstring name = L"stale";
    TarMember member;
    bool asked = false;
    const TarStep step = DecideTarStep(
        c.header.bytes, Bytewise,
        [&](uint32_t* position) {
          asked = true;
          *position = c.data_position;
          return true;
        },
        &name, &member);
    EXPECT_EQ(step, c.expected) << c.label;
    EXPECT_EQ(asked, c.asks_position) << c.label;
    if (step == TarStep::kMember) {
      EXPECT_EQ(name, L"a.txt") << c.label;
      EXPECT_EQ(member.size, c.size) << c.label;
      EXPECT_EQ(member.next_position, c.next_position) << c.label;
    }
  }
}

TEST(DecideTarStep, ChecksTheNameAsWidenedAndGivesTheWidenerTheWholeField) {
  // A full 100-byte field without terminator is the name; the widener's text
  // is what is checked and returned.
  const std::string full(kTarNameFieldSize, 'n');
  Header header = Member(full, "1");
  header.bytes[kTarNameFieldSize] = 'X';  // the mode field right after it
  size_t widened_length = 0;
  const auto widen_to = [&](const wchar_t* result) {
    return [&widened_length, result](const char*, size_t length) {
      widened_length = length;
      return std::wstring(result);
    };
  };
  const auto position = [](uint32_t* at) {
    *at = 512;
    return true;
  };
  std::wstring name;
  TarMember member;
  EXPECT_EQ(DecideTarStep(header.bytes, widen_to(L"x\\y"), position, &name, &member),
            TarStep::kUnsafeName);
  EXPECT_EQ(widened_length, kTarNameFieldSize);
  EXPECT_EQ(DecideTarStep(header.bytes, widen_to(L"plain.txt"), position, &name, &member),
            TarStep::kMember);
  EXPECT_EQ(name, L"plain.txt");
}

TEST(DecideTarStep, AnUnreadablePositionStopsBeforeTheSize) {
  const Header header = Member("a.txt", "5");
  std::wstring name;
  TarMember member;
  member.next_position = 77;
  EXPECT_EQ(DecideTarStep(header.bytes, Bytewise, [](uint32_t*) { return false; }, &name, &member),
            TarStep::kPositionUnavailable);
  EXPECT_EQ(member.next_position, 77u);
}

}  // namespace
}  // namespace vireo
