// Parsing of the three header fields the tar reader looks at.

#include "payload/tar_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tools/payload_encoding/gnu_tar_writer.h"

namespace vireo {
namespace {

struct Header {
  uint8_t bytes[kTarBlockSize] = {};
};

Header WithMagic(const char* magic, size_t length) {
  Header header;
  std::memcpy(header.bytes + kTarMagicOffset, magic, length);
  return header;
}

Header WithSizeField(const std::string& field) {
  Header header;
  // Bytes after the field that a parse running past it would pick up.
  std::memset(header.bytes + kTarSizeFieldOffset, '7', 40);
  std::memcpy(header.bytes + kTarSizeFieldOffset, field.data(), field.size());
  return header;
}

TEST(TarHeaderTest, ClassifiesByTheMagicAlone) {
  const struct {
    const char* label;
    Header header;
    TarHeaderKind expected;
  } cases[] = {
      {"all zero", Header{}, TarHeaderKind::kEndOfArchive},
      {"GNU magic", WithMagic("ustar  \0", 8), TarHeaderKind::kMember},
      {"POSIX magic", WithMagic("ustar\0" "00", 8), TarHeaderKind::kMember},
      {"five letters then garbage", WithMagic("ustarXY", 7), TarHeaderKind::kMember},
      {"zero magic, fifth byte set", WithMagic("\0\0\0\0r", 5), TarHeaderKind::kEndOfArchive},
      {"upper-case magic", WithMagic("USTAR", 5), TarHeaderKind::kInvalid},
      {"four letters", WithMagic("usta\0", 5), TarHeaderKind::kInvalid},
      {"one byte set", WithMagic("\0\0\0x", 4), TarHeaderKind::kInvalid},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(ClassifyTarHeader(test.header.bytes), test.expected) << test.label;
  }
}

TEST(TarHeaderTest, NameEndsAtItsFirstNulOrFillsTheField) {
  Header header;
  std::memcpy(header.bytes, "setup.exe\0junk", 14);
  EXPECT_EQ(TarNameLength(header.bytes), 9u);
  std::memset(header.bytes, 'n', 100);
  header.bytes[100] = 'm';  // the mode field right after must not count
  EXPECT_EQ(TarNameLength(header.bytes), 100u);
  EXPECT_EQ(TarNameLength(Header{}.bytes), 0u);
}

TEST(TarHeaderTest, ParsesTheSizeWithStrtolRulesInsideTheField) {
  const struct {
    std::string field;
    int32_t expected;
  } cases[] = {
      {std::string("00000001000\0", 12), 512},
      {std::string("00000001001\0", 12), 513},
      {std::string("00000000000\0", 12), 0},
      {std::string("    1750\0   ", 12), 01750},
      {std::string("\t\n\v\f\r 12\0\0\0\0", 12), 10},
      {std::string("+17 garbage!", 12), 017},
      {std::string("-1000\0\0\0\0\0\0\0", 12), -512},
      {std::string("12389\0\0\0\0\0\0\0", 12), 0123},
      {std::string("x123\0\0\0\0\0\0\0\0", 12), 0},
      {std::string("\0\0\0\0\0\0\0\0\0\0\0\0", 12), 0},
      {std::string("- 5\0\0\0\0\0\0\0\0\0", 12), 0},
      // The largest value and beyond: clamped like strtol with a 32-bit long.
      {std::string("17777777777\0", 12), INT32_MAX},
      {std::string("20000000000\0", 12), INT32_MAX},
      {std::string("777777777777", 12), INT32_MAX},
      {std::string("-20000000000", 12), INT32_MIN},
      {std::string("-77777777777", 12), INT32_MIN},
      {std::string("-17777777777", 12), -INT32_MAX},
      // Twelve digits: the '7's written after the field are not read.
      {std::string("000000000001", 12), 1},
      // Base-256 sizes are not octal text: strtol reads nothing.
      {std::string("\x80\0\0\0\0\0\0\0\0\0\x10\0", 12), 0},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(ParseTarSize(WithSizeField(test.field).bytes), test.expected)
        << "field \"" << test.field << "\"";
  }
}

TEST(TarHeaderTest, NextHeaderFollowsThePaddedDataBelow2GiB) {
  const struct {
    uint32_t data_position;
    int32_t size;
    bool ok;
    uint32_t next;
  } cases[] = {
      {512, 0, true, 512},
      {512, 1, true, 1024},
      {512, 512, true, 1024},
      {512, 513, true, 1536},
      {1024, 262145, true, 1024 + 262656},
      {512, -1, false, 0},
      {512, INT32_MIN, false, 0},
      {0x7FFFFC00, 512, true, 0x7FFFFE00},
      {0x7FFFFE00, 0, true, 0x7FFFFE00},
      {0x7FFFFE00, 1, false, 0},  // the next header would start at 2 GiB
      {512, INT32_MAX, false, 0},
      {0x80000000u, 0, false, 0},
  };
  for (const auto& test : cases) {
    uint32_t next = 0xDEAD;
    EXPECT_EQ(NextTarHeaderPosition(test.data_position, test.size, &next), test.ok)
        << test.data_position << " + " << test.size;
    EXPECT_EQ(next, test.ok ? test.next : 0xDEAD);
  }
}

TEST(TarHeaderTest, ReadsWhatTheWriterWrites) {
  uint8_t header[kTarBlockSize];
  FillGnuTarHeader(std::string(100, 'n'), 0x7FFFFFFF, '0', header);
  EXPECT_EQ(ClassifyTarHeader(header), TarHeaderKind::kMember);
  EXPECT_EQ(TarNameLength(header), 100u);
  EXPECT_EQ(ParseTarSize(header), INT32_MAX);
}

}  // namespace
}  // namespace vireo
