// The encoder side: the GNU tar writer, the stub-rules tar walker, the BCJ2 and
// LZMA-alone encoders.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "LzmaDec.h"
#include "base/byte_order.h"
#include "payload/tar_header.h"
#include "tools/payload_encoding/bcj2_encoder.h"
#include "tools/payload_encoding/gnu_tar_writer.h"
#include "tools/payload_encoding/lzma_alone_encoder.h"
#include "tools/payload_encoding/payload_encoder.h"
#include "tools/payload_encoding/tar_image_reader.h"
#include "tests/payload/payload_test_data.h"

namespace vireo::test {
namespace {

std::string Field(const Bytes& image, size_t offset, size_t length) {
  return std::string(reinterpret_cast<const char*>(image.data()) + offset, length);
}

TEST(GnuTarWriterTest, WritesReproducibleGnuHeadersForPlainFiles) {
  const Bytes tar = MakeTar({{"setup.exe", Bytes(1000, 'x')}});
  EXPECT_EQ(Field(tar, 0, 10), std::string("setup.exe\0", 10));
  EXPECT_EQ(Field(tar, 100, 8), std::string("0000644\0", 8));
  EXPECT_EQ(Field(tar, 108, 8), std::string("0000000\0", 8));
  EXPECT_EQ(Field(tar, 116, 8), std::string("0000000\0", 8));
  EXPECT_EQ(Field(tar, 124, 12), std::string("00000001750\0", 12));
  EXPECT_EQ(Field(tar, 136, 12), std::string("00000000000\0", 12));
  EXPECT_EQ(tar[156], '0');
  EXPECT_EQ(Field(tar, 257, 8), std::string("ustar  \0", 8));

  // The checksum: the byte sum with its own field read as blanks, six octal
  // digits, NUL, blank.
  uint32_t sum = 0;
  for (size_t i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : tar[i];
  char expected[9];
  std::snprintf(expected, sizeof(expected), "%06o", sum);
  EXPECT_EQ(Field(tar, 148, 8), std::string(expected, 6) + std::string("\0 ", 2));

  EXPECT_EQ(Field(tar, 512, 1000), std::string(1000, 'x'));
  EXPECT_EQ(tar.size(), kGnuTarRecordSize);
  for (size_t i = 1512; i < tar.size(); ++i) ASSERT_EQ(tar[i], 0) << i;
  EXPECT_TRUE(MakeTar({{"setup.exe", Bytes(1000, 'x')}}) == tar);
}

TEST(GnuTarWriterTest, PadsToWholeRecordsAfterTwoEndBlocks) {
  const struct {
    std::vector<uint64_t> sizes;
    size_t expected;
  } cases[] = {
      {{}, 10240},
      {{0}, 10240},
      {{8704}, 10240},       // 512 + 8704 + 1024 = 10240 exactly
      {{8705}, 20480},
      {{512, 513}, 10240},
      {{300000}, 307200},
  };
  for (const auto& test : cases) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (uint64_t size : test.sizes) {
      files.push_back({"f" + std::to_string(files.size()), Bytes(size, 1)});
    }
    const Bytes tar = MakeTar(files);
    EXPECT_EQ(tar.size(), test.expected);
    EXPECT_EQ(GnuTarImageSize(test.sizes), test.expected);
  }
}

TEST(GnuTarWriterTest, TakesNamesOfUpTo100Bytes) {
  GnuTarWriter writer;
  writer.AddFile(std::string(100, 'a'), nullptr, 0);
  EXPECT_THROW(writer.AddFile(std::string(101, 'b'), nullptr, 0), std::invalid_argument);
  const Bytes tar = writer.Finish();
  std::vector<TarImageMember> members;
  std::string error;
  ASSERT_TRUE(ReadTarImage(tar.data(), tar.size(), &members, &error)) << error;
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0].name, std::string(100, 'a'));
}

TEST(TarImageReaderTest, WalksMembersAsTheStubDoes) {
  const Bytes tar = MakeTar({{"a.exe", Bytes(513, 'a')}, {"b", {}}, {"c", Bytes(512, 'c')}});
  std::vector<TarImageMember> members;
  std::string error;
  ASSERT_TRUE(ReadTarImage(tar.data(), tar.size(), &members, &error)) << error;
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].name, "a.exe");
  EXPECT_EQ(members[0].data_offset, 512u);
  EXPECT_EQ(members[0].size, 513u);
  EXPECT_EQ(members[1].header_offset, 512u + 1024u);
  EXPECT_EQ(members[2].data_offset, 512u + 1024u + 512u + 512u);
  EXPECT_TRUE(members[2].size_is_plain_octal);
  EXPECT_EQ(members[2].type_flag, '0');

  // One zero block is an empty archive; without it the archive is damaged.
  const Bytes zero(512, 0);
  EXPECT_TRUE(ReadTarImage(zero.data(), zero.size(), &members, &error));
  EXPECT_TRUE(members.empty());
  const Bytes unterminated(tar.begin(), tar.begin() + 512 + 1024);
  EXPECT_FALSE(ReadTarImage(unterminated.data(), unterminated.size(), &members, &error));
  EXPECT_EQ(members.size(), 1u);
  const Bytes cut(tar.begin(), tar.begin() + 600);
  EXPECT_FALSE(ReadTarImage(cut.data(), cut.size(), &members, &error));
  Bytes negative = tar;
  std::memcpy(negative.data() + kTarSizeFieldOffset, "-1\0", 3);
  EXPECT_FALSE(ReadTarImage(negative.data(), negative.size(), &members, &error));
  Bytes base256 = tar;
  base256[kTarSizeFieldOffset] = 0x80;
  // Read as size 0, so the member's data is taken for the next header.
  EXPECT_FALSE(ReadTarImage(base256.data(), base256.size(), &members, &error));
  ASSERT_EQ(members.size(), 1u);
  EXPECT_FALSE(members[0].size_is_plain_octal);
}

TEST(Bcj2EncoderTest, ConvertsBranchesOnlyWithinTheSameFile) {
  // Member "a.exe" calls into member "b.exe": a target in another file.
  Bytes calls;
  for (int i = 0; i < 200; ++i) {
    calls.push_back(0xE8);
    const int32_t relative = 4000 - static_cast<int32_t>(calls.size() + 4);
    for (int b = 0; b < 4; ++b) calls.push_back(static_cast<uint8_t>(relative >> (8 * b)));
    calls.insert(calls.end(), {0x90, 0x90, 0x90});
  }
  calls.resize(1600, 0x90);
  const Bytes tar = MakeTar({{"a.exe", calls}, {"b.exe", Bytes(4000, 0x90)}});
  std::vector<TarImageMember> members;
  std::string error;
  ASSERT_TRUE(ReadTarImage(tar.data(), tar.size(), &members, &error));

  Bcj2EncoderOptions per_member;
  for (const TarImageMember& member : members) {
    per_member.files.push_back({member.data_offset, member.size});
  }
  const Bcj2Streams separate = EncodeBcj2Streams(tar.data(), tar.size(), per_member);
  const Bcj2Streams whole = EncodeBcj2Streams(tar.data(), tar.size(), {});
  EXPECT_TRUE(separate.call.empty());
  EXPECT_FALSE(whole.call.empty());

  // Calls whose targets stay inside their own file are converted either way.
  const Bytes code = X86LikeCode(100000, 21);
  const Bytes own = MakeTar({{"a.exe", code}});
  ASSERT_TRUE(ReadTarImage(own.data(), own.size(), &members, &error));
  per_member.files = {{members[0].data_offset, members[0].size}};
  const Bcj2Streams converted = EncodeBcj2Streams(own.data(), own.size(), per_member);
  EXPECT_GT(converted.call.size(), 1000u);
  EXPECT_GT(converted.jump.size(), 1000u);
  EXPECT_EQ(converted.call.size() % 4, 0u);
  EXPECT_EQ(converted.main.size() + converted.call.size() + converted.jump.size(), own.size());
  const Bytes block = BuildBcj2Block(static_cast<uint32_t>(own.size()), converted);
  EXPECT_TRUE(Decode(EncodeLzmaAlone(block.data(), block.size())).tar == own);
}

TEST(Bcj2EncoderTest, BlockHeaderListsTheStreamSizes) {
  Bcj2Streams streams;
  streams.main = Bytes(7, 1);
  streams.call = Bytes(8, 2);
  streams.jump = Bytes(4, 3);
  streams.range_coder = Bytes(5, 4);
  const Bytes block = BuildBcj2Block(19, streams);
  ASSERT_EQ(block.size(), 20u + 24u);
  EXPECT_EQ(ReadLittleEndian32(block.data()), 19u);
  EXPECT_EQ(ReadLittleEndian32(block.data() + 4), 7u);
  EXPECT_EQ(ReadLittleEndian32(block.data() + 8), 8u);
  EXPECT_EQ(ReadLittleEndian32(block.data() + 12), 4u);
  EXPECT_EQ(ReadLittleEndian32(block.data() + 16), 5u);
  EXPECT_EQ(block[20], 1);
  EXPECT_EQ(block[27], 2);
  EXPECT_EQ(block[35], 3);
  EXPECT_EQ(block[39], 4);
}

TEST(LzmaAloneEncoderTest, WritesTheFixedPropertiesAndExactSizeWithoutEndMarker) {
  const Bytes data = X86LikeCode(100000, 22);
  const Bytes stream = EncodeLzmaAlone(data.data(), data.size());
  const uint8_t expected_header[13] = {0x5D, 0x00, 0x00, 0x80, 0x00, 0xA0, 0x86, 0x01,
                                       0x00, 0x00, 0x00, 0x00, 0x00};
  ASSERT_GT(stream.size(), 13u);
  EXPECT_EQ(std::memcmp(stream.data(), expected_header, 13), 0);

  // Decoded with the SDK directly: the stream ends exactly at the size, with no marker.
  Bytes decoded(data.size());
  SizeT decoded_size = decoded.size();
  SizeT input_size = stream.size() - 13;
  ELzmaStatus status;
  const ISzAlloc allocator = {[](ISzAllocPtr, size_t n) { return std::malloc(n); },
                              [](ISzAllocPtr, void* p) { std::free(p); }};
  ASSERT_EQ(LzmaDecode(decoded.data(), &decoded_size, stream.data() + 13, &input_size,
                       stream.data(), 5, LZMA_FINISH_END, &status, &allocator),
            SZ_OK);
  EXPECT_EQ(status, LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK);
  EXPECT_EQ(input_size, stream.size() - 13);
  EXPECT_TRUE(decoded == data);

  const Bytes empty = EncodeLzmaAlone(nullptr, 0);
  EXPECT_EQ(ReadLittleEndian32(empty.data() + 5), 0u);
}

TEST(PayloadEncoderTest, SamePayloadForTheSameTar) {
  const Bytes tar = MakeTar({{"setup.exe", X86LikeCode(30000, 23)}, {"x.txt", Bytes(100, 'x')}});
  EXPECT_TRUE(MakePayload(tar) == MakePayload(tar));
}

}  // namespace
}  // namespace vireo::test
