// The PNG writer, checked by reading its files back with a decoder of the
// test's own: chunk layout and CRCs, the zlib stream, the row filters.
#include "tests/pictures/png_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace vireo::pictures {
namespace {

// Reads a deflate stream of fixed-Huffman blocks, the only kind the writer
// makes; anything else fails the test.
class FixedInflater {
 public:
  explicit FixedInflater(const std::vector<uint8_t>& in) : in_(in) {}

  bool Inflate(std::vector<uint8_t>* out) {
    static const int kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const int kDistanceBase[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,
                                        25,   33,   49,   65,   97,   129,  193,  257,   385,
                                        513,  769,  1025, 1537, 2049, 3073, 4097, 6145,  8193,
                                        12289, 16385, 24577};
    bool final_block = false;
    while (!final_block) {
      final_block = Bits(1) == 1;
      if (Bits(2) != 1 || failed_) return false;
      for (;;) {
        const int symbol = Symbol();
        if (failed_ || symbol > 285) return false;
        if (symbol < 256) {
          out->push_back(static_cast<uint8_t>(symbol));
          continue;
        }
        if (symbol == 256) break;
        const int length = kLengthBase[symbol - 257] + Bits(kLengthExtra[symbol - 257]);
        const int distance_code = Code(5);
        if (distance_code > 29) return false;
        const int extra = distance_code < 4 ? 0 : distance_code / 2 - 1;
        const size_t distance = kDistanceBase[distance_code] + Bits(extra);
        if (failed_ || distance > out->size()) return false;
        for (int i = 0; i < length; ++i) out->push_back((*out)[out->size() - distance]);
      }
    }
    return !failed_;
  }

  size_t consumed_bytes() const { return (bit_ + 7) / 8; }

 private:
  int Bit() {
    if (bit_ / 8 >= in_.size()) {
      failed_ = true;
      return 0;
    }
    const int bit = (in_[bit_ / 8] >> (bit_ % 8)) & 1;
    ++bit_;
    return bit;
  }
  int Bits(int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) value |= Bit() << i;
    return value;
  }
  int Code(int length) {
    int value = 0;
    for (int i = 0; i < length; ++i) value = (value << 1) | Bit();
    return value;
  }
  // The fixed literal/length code: 7, 8 or 9 bits, told apart by their prefix.
  int Symbol() {
    int code = Code(7);
    if (code <= 0x17) return 256 + code;
    code = (code << 1) | Bit();
    if (code >= 0x30 && code <= 0xBF) return code - 0x30;
    if (code >= 0xC0 && code <= 0xC7) return 280 + code - 0xC0;
    code = (code << 1) | Bit();
    return 144 + code - 0x190;
  }

  const std::vector<uint8_t>& in_;
  size_t bit_ = 0;
  bool failed_ = false;
};

uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at) {
  return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 |
         bytes[at + 3];
}

// The zlib stream's payload, checked header and Adler-32 included.
bool Unzlib(const std::vector<uint8_t>& stream, std::vector<uint8_t>* out) {
  if (stream.size() < 6 || (stream[0] & 0x0F) != 8 || (stream[0] << 8 | stream[1]) % 31 != 0) {
    return false;
  }
  const std::vector<uint8_t> body(stream.begin() + 2, stream.end());
  FixedInflater inflater(body);
  out->clear();
  if (!inflater.Inflate(out) || inflater.consumed_bytes() + 4 != body.size()) return false;
  return Get32(body, inflater.consumed_bytes()) == Adler32(out->data(), out->size());
}

struct DecodedPng {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
};

// Reads what EncodePng writes: signature, IHDR for 8-bit RGB, IDAT, IEND, every
// CRC right; undoes the row filters. Describes the first fault in `error`.
bool DecodePng(const std::vector<uint8_t>& png, DecodedPng* picture, std::string* error) {
  const std::vector<uint8_t> signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || !std::equal(signature.begin(), signature.end(), png.begin())) {
    *error = "signature";
    return false;
  }
  std::vector<std::string> types;
  std::vector<uint8_t> idat;
  for (size_t at = 8; at < png.size();) {
    if (png.size() - at < 12) {
      *error = "truncated chunk";
      return false;
    }
    const uint32_t length = Get32(png, at);
    if (length > png.size() - at - 12) {
      *error = "chunk length";
      return false;
    }
    const std::string type(png.begin() + at + 4, png.begin() + at + 8);
    if (Crc32(png.data() + at + 4, length + 4) != Get32(png, at + 8 + length)) {
      *error = "CRC of " + type;
      return false;
    }
    const std::vector<uint8_t> data(png.begin() + at + 8, png.begin() + at + 8 + length);
    if (type == "IHDR") {
      if (length != 13 || data[8] != 8 || data[9] != 2 || data[10] || data[11] || data[12]) {
        *error = "IHDR fields";
        return false;
      }
      picture->width = Get32(data, 0);
      picture->height = Get32(data, 4);
    }
    if (type == "IDAT") idat.insert(idat.end(), data.begin(), data.end());
    types.push_back(type);
    at += 12 + length;
  }
  if (types != std::vector<std::string>{"IHDR", "IDAT", "IEND"}) {
    *error = "chunk order";
    return false;
  }
  std::vector<uint8_t> filtered;
  if (!Unzlib(idat, &filtered)) {
    *error = "zlib stream";
    return false;
  }
  const size_t stride = size_t{picture->width} * 3;
  if (filtered.size() != (stride + 1) * picture->height) {
    *error = "image data size";
    return false;
  }
  picture->rgb.assign(stride * picture->height, 0);
  for (size_t y = 0; y < picture->height; ++y) {
    const uint8_t type = filtered[y * (stride + 1)];
    for (size_t x = 0; x < stride; ++x) {
      const int left = x >= 3 ? picture->rgb[y * stride + x - 3] : 0;
      const int up = y ? picture->rgb[(y - 1) * stride + x] : 0;
      const int up_left = x >= 3 && y ? picture->rgb[(y - 1) * stride + x - 3] : 0;
      int predicted = 0;
      if (type == 1) predicted = left;
      if (type == 2) predicted = up;
      if (type == 3) predicted = (left + up) / 2;
      if (type == 4) {
        const int p = left + up - up_left;
        const int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - up_left);
        predicted = pa <= pb && pa <= pc ? left : pb <= pc ? up : up_left;
      }
      if (type > 4) {
        *error = "filter type";
        return false;
      }
      picture->rgb[y * stride + x] =
          static_cast<uint8_t>(filtered[y * (stride + 1) + 1 + x] + predicted);
    }
  }
  return true;
}

TEST(PngWriter, ChecksumsMatchKnownValues) {
  const std::string text = "123456789";
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  EXPECT_EQ(Crc32(bytes, text.size()), 0xCBF43926u);
  EXPECT_EQ(Adler32(bytes, text.size()), 0x091E01DEu);
  EXPECT_EQ(Adler32(nullptr, 0), 1u);
  // Enough 0xFF bytes for the sums to wrap past the modulus.
  const std::vector<uint8_t> ones(6000, 0xFF);
  EXPECT_EQ(Adler32(ones.data(), ones.size()), 0xA49759EAu);
}

TEST(PngWriter, ZlibStreamsReadBack) {
  std::vector<std::vector<uint8_t>> inputs = {{}, {42}, {1, 2}};
  // Every literal, long runs (lengths up to 258), and matches far back in the window.
  std::vector<uint8_t> mixed;
  for (int i = 0; i < 256; ++i) mixed.push_back(static_cast<uint8_t>(i));
  mixed.insert(mixed.end(), 1000, 7);
  uint32_t state = 12345;
  std::vector<uint8_t> noise;
  for (int i = 0; i < 40000; ++i) {
    state = state * 1103515245 + 12345;
    noise.push_back(static_cast<uint8_t>(state >> 24));
  }
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  mixed.insert(mixed.end(), noise.begin() + 10000, noise.end());
  inputs.push_back(mixed);
  for (const auto& input : inputs) {
    SCOPED_TRACE(testing::Message() << input.size() << " bytes");
    std::vector<uint8_t> output;
    ASSERT_TRUE(Unzlib(ZlibCompress(input), &output));
    EXPECT_EQ(output, input);
  }
  // Repetition compresses: a flat picture area must not cost a byte a byte.
  EXPECT_LT(ZlibCompress(std::vector<uint8_t>(100000, 0xF0)).size(), 1000u);
}

TEST(PngWriter, PicturesReadBackPixelForPixel) {
  struct {
    uint32_t width, height;
  } sizes[] = {{1, 1}, {3, 2}, {97, 31}, {320, 120}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
    // Gradients, flat areas and a sharp edge, so every filter gets chosen somewhere.
    std::vector<uint8_t> rgb;
    for (uint32_t y = 0; y < size.height; ++y) {
      for (uint32_t x = 0; x < size.width; ++x) {
        rgb.push_back(static_cast<uint8_t>(x * 7 + y));
        rgb.push_back(static_cast<uint8_t>(y < size.height / 2 ? 0xF0 : 0x10));
        rgb.push_back(static_cast<uint8_t>((x * y) ^ (x + 3 * y)));
      }
    }
    DecodedPng picture;
    std::string error;
    ASSERT_TRUE(DecodePng(EncodePng(size.width, size.height, rgb), &picture, &error)) << error;
    EXPECT_EQ(picture.width, size.width);
    EXPECT_EQ(picture.height, size.height);
    EXPECT_EQ(picture.rgb, rgb);
  }
}

TEST(PngWriter, SizesThatDoNotFitTheDataWriteNothing) {
  EXPECT_TRUE(EncodePng(0, 1, {}).empty());
  EXPECT_TRUE(EncodePng(1, 0, {}).empty());
  EXPECT_TRUE(EncodePng(2, 2, std::vector<uint8_t>(11)).empty());
  EXPECT_TRUE(EncodePng(2, 2, std::vector<uint8_t>(13)).empty());
  EXPECT_TRUE(EncodePng(4, 1, std::vector<uint8_t>(6)).empty());
}

}  // namespace
}  // namespace vireo::pictures
