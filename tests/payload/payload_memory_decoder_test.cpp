// The container decoder on payloads made by the encoder, intact and damaged
// layer by layer.

#include "payload/payload_memory_decoder.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/byte_order.h"
#include "payload/bcj2_block_header.h"
#include "payload/lzma_alone_header.h"
#include "tools/payload_encoding/bcj2_encoder.h"
#include "tools/payload_encoding/lzma_alone_encoder.h"
#include "tests/payload/payload_test_data.h"

namespace vireo::test {
namespace {

// A payload whose decoded block is `block`, as it is (no checks of its own).
Bytes WrapBlock(const Bytes& block, bool end_marker = false) {
  LzmaAloneOptions options;
  options.write_end_marker = end_marker;
  return EncodeLzmaAlone(block.data(), block.size(), options);
}

Bytes BlockOf(const Bcj2Streams& streams, uint32_t output_size) {
  return BuildBcj2Block(output_size, streams);
}

TEST(PayloadMemoryDecoderTest, RoundTripsTarImagesOfEveryKind) {
  const struct {
    const char* label;
    Bytes tar;
  } cases[] = {
      {"empty archive", MakeTar({})},
      {"random data", MakeTar({{"setup.exe", RandomBytes(300000, 1)}})},
      {"x86 code", MakeTar({{"setup.exe", X86LikeCode(200000, 2)}, {"a.dll", X86LikeCode(70001, 3)}})},
      {"mixed", MakeTar({{"setup.exe", X86LikeCode(50000, 4)},
                         {"empty.txt", {}},
                         {"readme.txt", Bytes(513, 'r')},
                         {"data.bin", RandomBytes(4096, 5)}})},
      {"bare x86 code, not a tar", X86LikeCode(65536, 6)},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    const DecodeOutcome outcome = Decode(MakePayload(test.tar));
    ASSERT_EQ(outcome.status, PayloadDecodeStatus::kOk);
    EXPECT_TRUE(outcome.tar == test.tar);
  }
}

TEST(PayloadMemoryDecoderTest, NeedsTheWholeLzmaHeader) {
  const Bytes payload = MakePayload(MakeTar({{"a.exe", Bytes(10, 'a')}}));
  TestAllocator twelve_allocator;
  uint8_t* tar = nullptr;
  uint32_t tar_size = 0;
  EXPECT_EQ(DecodePayloadToMemory(payload.data(), 12, twelve_allocator.allocator(), &tar, &tar_size),
            PayloadDecodeStatus::kTooShort);
  EXPECT_EQ(twelve_allocator.allocations(), 0);

  // Thirteen bytes reach the decoder, which finds no data behind the header.
  TestAllocator thirteen_allocator;
  const PayloadDecodeStatus status = DecodePayloadToMemory(
      payload.data(), 13, thirteen_allocator.allocator(), &tar, &tar_size);
  EXPECT_NE(status, PayloadDecodeStatus::kOk);
  EXPECT_NE(status, PayloadDecodeStatus::kTooShort);
  EXPECT_GT(thirteen_allocator.allocations(), 0);
  EXPECT_EQ(thirteen_allocator.outstanding_blocks(), 0u);
  EXPECT_EQ(tar, nullptr);
}

TEST(PayloadMemoryDecoderTest, RejectsPropertiesTheDecoderDoesNot) {
  const Bytes original = MakePayload(MakeTar({{"a.exe", Bytes(10, 'a')}}));
  // 224 is the largest lc/lp/pb combination (8, 4, 4); the decoder reads it.
  for (const uint8_t properties : {uint8_t{225}, uint8_t{226}, uint8_t{255}}) {
    Bytes payload = original;
    payload[0] = properties;
    EXPECT_EQ(Decode(payload).status, PayloadDecodeStatus::kBadProperties) << int{properties};
  }
  Bytes payload = original;
  payload[0] = 224;
  EXPECT_NE(Decode(payload).status, PayloadDecodeStatus::kBadProperties);
}

TEST(PayloadMemoryDecoderTest, IgnoresTheHighHalfOfTheDecodedSize) {
  const Bytes tar = MakeTar({{"a.exe", X86LikeCode(5000, 7)}});
  Bytes payload = MakePayload(tar);
  WriteLittleEndian32(payload.data() + 9, 0xFFFFFFFFu);
  const DecodeOutcome outcome = Decode(payload);
  ASSERT_EQ(outcome.status, PayloadDecodeStatus::kOk);
  EXPECT_TRUE(outcome.tar == tar);
}

TEST(PayloadMemoryDecoderTest, FailsWhenTheLzmaStreamDoesNotEndAtItsDeclaredSize) {
  const Bytes tar = MakeTar({{"a.exe", X86LikeCode(20000, 8)}});
  const Bytes good = MakePayload(tar);
  const uint32_t declared = ReadLittleEndian32(good.data() + 5);

  // An end marker before the declared size: the decoder says OK, yet it is short.
  Bytes marked = WrapBlock(EncodeBcj2Block(tar.data(), tar.size(), {}), true);
  WriteLittleEndian32(marked.data() + 5, ReadLittleEndian32(marked.data() + 5) + 100);

  Bytes longer = good;
  WriteLittleEndian32(longer.data() + 5, declared + 1);
  Bytes shorter = good;
  WriteLittleEndian32(shorter.data() + 5, declared - 1);
  Bytes all_ones = good;  // "size not stated" is not supported
  std::memset(all_ones.data() + 5, 0xFF, 8);
  const Bytes cut_by_one(good.begin(), good.end() - 1);
  const Bytes cut_in_half(good.begin(), good.begin() + good.size() / 2);

  const struct {
    const char* label;
    const Bytes& payload;
  } cases[] = {
      {"end marker before the declared size", marked},
      {"declared one byte longer", longer},
      {"declared one byte shorter", shorter},
      {"size field of all ones", all_ones},
      {"last byte cut off", cut_by_one},
      {"cut in half", cut_in_half},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    TestAllocator allocator;
    uint8_t* out = nullptr;
    uint32_t out_size = 0;
    const PayloadDecodeStatus status =
        DecodePayloadToMemory(test.payload.data(), static_cast<uint32_t>(test.payload.size()),
                              allocator.allocator(), &out, &out_size);
    EXPECT_TRUE(status == PayloadDecodeStatus::kLzmaIncomplete ||
                status == PayloadDecodeStatus::kLzmaDataError ||
                status == PayloadDecodeStatus::kOutOfMemory)
        << DescribePayloadDecodeStatus(status);
    EXPECT_EQ(allocator.outstanding_blocks(), 0u);
  }
  // The same marked stream with its true size is fine.
  WriteLittleEndian32(marked.data() + 5, ReadLittleEndian32(marked.data() + 5) - 100);
  EXPECT_EQ(Decode(marked).status, PayloadDecodeStatus::kOk);
}

TEST(PayloadMemoryDecoderTest, ChecksTheStreamSizesAgainstTheBlock) {
  const Bytes code = X86LikeCode(30000, 9);
  const Bcj2Streams streams = EncodeBcj2Streams(code.data(), code.size(), {});
  ASSERT_FALSE(streams.call.empty());
  const Bytes exact = BlockOf(streams, static_cast<uint32_t>(code.size()));

  Bytes with_slack = exact;  // streams need not fill the block
  with_slack.insert(with_slack.end(), 7, 0xAB);
  Bytes overrun = exact;
  WriteLittleEndian32(overrun.data() + 16, ReadLittleEndian32(overrun.data() + 16) + 1);
  Bytes wrapping = exact;  // 0xFFFFFFFF + 2 wraps to 1 in 32 bits
  WriteLittleEndian32(wrapping.data() + 4, 0xFFFFFFFFu);
  WriteLittleEndian32(wrapping.data() + 8, 2);
  WriteLittleEndian32(wrapping.data() + 12, 0);
  WriteLittleEndian32(wrapping.data() + 16, 0);
  const Bytes nineteen(exact.begin(), exact.begin() + 19);
  Bytes output_longer = exact;
  WriteLittleEndian32(output_longer.data(), static_cast<uint32_t>(code.size() + 1));
  Bytes output_shorter = exact;
  WriteLittleEndian32(output_shorter.data(), static_cast<uint32_t>(code.size() - 1));

  // CALL targets not in whole 4-byte units: move one byte of the main stream over.
  Bcj2Streams ragged = streams;
  ragged.call.push_back(ragged.main.back());
  ragged.main.pop_back();
  // Sizes that add up, but a target where main-stream bytes belong.
  Bcj2Streams shifted = streams;
  shifted.call.insert(shifted.call.end(), shifted.main.end() - 4, shifted.main.end());
  shifted.main.resize(shifted.main.size() - 4);
  Bcj2Streams extra_target = streams;
  extra_target.jump.insert(extra_target.jump.end(), {1, 2, 3, 4});
  extra_target.main.resize(extra_target.main.size() - 4);
  Bcj2Streams short_coder = streams;
  short_coder.range_coder.pop_back();
  Bcj2Streams bad_coder = streams;
  bad_coder.range_coder[0] = 0xFF;  // the coder's first byte is always 0

  const uint32_t n = static_cast<uint32_t>(code.size());
  const struct {
    const char* label;
    Bytes block;
    PayloadDecodeStatus expected;
  } cases[] = {
      {"streams exactly fill the block", exact, PayloadDecodeStatus::kOk},
      {"block longer than the streams", with_slack, PayloadDecodeStatus::kOk},
      {"streams overrun the block by one byte", overrun, PayloadDecodeStatus::kBadBlockHeader},
      {"stream sizes wrap around 32 bits", wrapping, PayloadDecodeStatus::kBadBlockHeader},
      {"block of 19 bytes", nineteen, PayloadDecodeStatus::kBadBlockHeader},
      {"output size one too large", output_longer, PayloadDecodeStatus::kBadStreamSizes},
      {"output size one too small", output_shorter, PayloadDecodeStatus::kBadStreamSizes},
      {"CALL stream not in 4-byte units", BlockOf(ragged, n), PayloadDecodeStatus::kBadStreamSizes},
      {"main bytes moved to the CALL stream", BlockOf(shifted, n), PayloadDecodeStatus::kBcj2DataError},
      {"a jump target too many", BlockOf(extra_target, n), PayloadDecodeStatus::kBcj2DataError},
      {"range coder one byte short", BlockOf(short_coder, n), PayloadDecodeStatus::kBcj2DataError},
      {"range coder damaged", BlockOf(bad_coder, n), PayloadDecodeStatus::kBcj2DataError},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    TestAllocator allocator;
    const Bytes payload = WrapBlock(test.block);
    uint8_t* tar = nullptr;
    uint32_t tar_size = 0;
    EXPECT_EQ(DecodePayloadToMemory(payload.data(), static_cast<uint32_t>(payload.size()),
                                    allocator.allocator(), &tar, &tar_size),
              test.expected);
    if (test.expected == PayloadDecodeStatus::kOk) {
      ASSERT_EQ(tar_size, code.size());
      EXPECT_EQ(std::memcmp(tar, code.data(), tar_size), 0);
      EXPECT_EQ(allocator.outstanding_blocks(), 1u);
    } else {
      EXPECT_EQ(tar, nullptr);
      EXPECT_EQ(allocator.outstanding_blocks(), 0u);
    }
  }
}

TEST(PayloadMemoryDecoderTest, EveryAllocationFailureFailsAndReleasesTheRest) {
  const Bytes payload = MakePayload(MakeTar({{"a.exe", X86LikeCode(40000, 10)}}));
  TestAllocator counting;
  uint8_t* tar = nullptr;
  uint32_t tar_size = 0;
  ASSERT_EQ(DecodePayloadToMemory(payload.data(), static_cast<uint32_t>(payload.size()),
                                  counting.allocator(), &tar, &tar_size),
            PayloadDecodeStatus::kOk);
  ASSERT_GE(counting.allocations(), 3);
  for (int fail_at = 0; fail_at < counting.allocations(); ++fail_at) {
    SCOPED_TRACE(fail_at);
    TestAllocator failing(fail_at);
    uint8_t* none = nullptr;
    EXPECT_EQ(DecodePayloadToMemory(payload.data(), static_cast<uint32_t>(payload.size()),
                                    failing.allocator(), &none, &tar_size),
              PayloadDecodeStatus::kOutOfMemory);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(failing.outstanding_bytes(), 0u);
  }
}

TEST(PayloadMemoryDecoderTest, HoldsTheBlockThenTheBlockAChunkAndTheImage) {
  const Bytes tar = MakeTar({{"a.exe", X86LikeCode(300000, 11)}, {"b.bin", RandomBytes(200000, 12)}});
  const Bytes payload = MakePayload(tar);
  LzmaAloneHeader header;
  ASSERT_TRUE(ReadLzmaAloneHeader(payload.data(), static_cast<uint32_t>(payload.size()), &header));
  TestAllocator allocator;
  uint8_t* out = nullptr;
  uint32_t out_size = 0;
  ASSERT_EQ(DecodePayloadToMemory(payload.data(), static_cast<uint32_t>(payload.size()),
                                  allocator.allocator(), &out, &out_size),
            PayloadDecodeStatus::kOk);
  // The block, the LZMA decoder's probabilities (the block is its dictionary:
  // no dictionary of the header's 8 MiB), then one chunk and the tar image.
  const std::vector<size_t>& sizes = allocator.sizes();
  ASSERT_EQ(sizes.size(), 4u);
  const size_t block = sizes[0], probabilities = sizes[1], chunk = sizes[2], image = sizes[3];
  EXPECT_EQ(block, header.decoded_size);
  EXPECT_LT(probabilities, size_t{64} << 10);
  EXPECT_EQ(chunk, tar.size());  // smaller than a whole chunk
  EXPECT_EQ(image, tar.size());
  EXPECT_EQ(allocator.peak_bytes(), std::max(block + probabilities, block + chunk + image));
  EXPECT_EQ(allocator.outstanding_bytes(), tar.size());
  EXPECT_EQ(out_size, tar.size());
}

// A sink that keeps what it is given, and can refuse a given call.
struct RecordingSink {
  Bytes received;
  uint32_t announced = 0;
  int writes = 0;
  int refuse_at = -1;  // the write (0-based) that refuses; -1: none
  bool refuse_begin = false;

  static bool Begin(void* context, uint32_t size) {
    auto* self = static_cast<RecordingSink*>(context);
    self->announced = size;
    return !self->refuse_begin;
  }
  static bool Write(void* context, const uint8_t* bytes, uint32_t count) {
    auto* self = static_cast<RecordingSink*>(context);
    EXPECT_LE(count, kPayloadChunkBytes);
    if (self->writes++ == self->refuse_at) return false;
    self->received.insert(self->received.end(), bytes, bytes + count);
    return true;
  }
  PayloadSink sink() { return PayloadSink{Begin, Write, this}; }
};

TEST(PayloadMemoryDecoderTest, HandsALargeImageOnChunkByChunkWithoutHoldingIt) {
  // Code across chunk boundaries: branch targets may straddle them.
  const Bytes tar = MakeTar({{"a.exe", X86LikeCode(2 * kPayloadChunkBytes + 4321, 21)}});
  const Bytes payload = MakePayload(tar);
  LzmaAloneHeader header;
  ASSERT_TRUE(ReadLzmaAloneHeader(payload.data(), static_cast<uint32_t>(payload.size()), &header));
  TestAllocator allocator;
  RecordingSink recording;
  ASSERT_EQ(DecodePayloadToSink(payload.data(), static_cast<uint32_t>(payload.size()),
                                allocator.allocator(), recording.sink()),
            PayloadDecodeStatus::kOk);
  EXPECT_EQ(recording.announced, tar.size());
  EXPECT_EQ(recording.writes, 3);
  EXPECT_TRUE(recording.received == tar);
  EXPECT_EQ(allocator.outstanding_bytes(), 0u);
  EXPECT_LT(allocator.peak_bytes(), header.decoded_size + kPayloadChunkBytes + (64 << 10));
}

TEST(PayloadMemoryDecoderTest, ASinkThatRefusesStopsTheDecodingAndEverythingIsReleased) {
  const Bytes tar = MakeTar({{"a.exe", X86LikeCode(kPayloadChunkBytes + 100, 22)}});
  const Bytes payload = MakePayload(tar);
  for (const int refuse_at : {-1, 0, 1}) {
    SCOPED_TRACE(refuse_at);
    TestAllocator allocator;
    RecordingSink recording;
    recording.refuse_begin = refuse_at < 0;
    recording.refuse_at = refuse_at;
    EXPECT_EQ(DecodePayloadToSink(payload.data(), static_cast<uint32_t>(payload.size()),
                                  allocator.allocator(), recording.sink()),
              PayloadDecodeStatus::kSinkRefused);
    EXPECT_EQ(recording.writes, refuse_at + 1);
    EXPECT_EQ(allocator.outstanding_blocks(), 0u);
  }
}

}  // namespace
}  // namespace vireo::test
