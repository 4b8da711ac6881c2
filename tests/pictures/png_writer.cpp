#include "tests/pictures/png_writer.h"

#include <cstdlib>
#include <utility>

namespace vireo::pictures {

namespace {

constexpr size_t kWindow = 32768;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 258;
constexpr int kHashBits = 15;
constexpr int kMaxChain = 64;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                        33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                        1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385,
                                        24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Deflate packs values from the least significant bit up; Huffman codes go in
// from their most significant bit, so they are reversed first.
class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}

  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
  }

  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
  }

  void Flush() {
    if (used_) out_->push_back(current_);
    current_ = 0;
    used_ = 0;
  }

 private:
  void Bit(uint32_t bit) {
    current_ |= static_cast<uint8_t>(bit << used_);
    if (++used_ == 8) Flush();
  }

  std::vector<uint8_t>* out_;
  uint8_t current_ = 0;
  int used_ = 0;
};

// The fixed literal/length code of `symbol` (0 to 287).
void LiteralLength(BitWriter* bits, uint32_t symbol) {
  if (symbol < 144) {
    bits->Code(0x30 + symbol, 8);
  } else if (symbol < 256) {
    bits->Code(0x190 + symbol - 144, 9);
  } else if (symbol < 280) {
    bits->Code(symbol - 256, 7);
  } else {
    bits->Code(0xC0 + symbol - 280, 8);
  }
}

void Match(BitWriter* bits, size_t length, size_t distance) {
  int code = 28;
  while (kLengthBase[code] > length) --code;
  LiteralLength(bits, 257 + code);
  bits->Bits(static_cast<uint32_t>(length - kLengthBase[code]), kLengthExtra[code]);
  code = 29;
  while (kDistanceBase[code] > distance) --code;
  bits->Code(code, 5);
  bits->Bits(static_cast<uint32_t>(distance - kDistanceBase[code]), kDistanceExtra[code]);
}

uint32_t Hash(const uint8_t* p) {
  return ((p[0] << 10) ^ (p[1] << 5) ^ p[2]) & ((1u << kHashBits) - 1);
}

void Put32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

void Chunk(std::vector<uint8_t>* png, const char type[4], const std::vector<uint8_t>& data) {
  Put32(png, static_cast<uint32_t>(data.size()));
  const size_t start = png->size();
  png->insert(png->end(), type, type + 4);
  png->insert(png->end(), data.begin(), data.end());
  Put32(png, Crc32(png->data() + start, png->size() - start));
}

uint8_t Paeth(int left, int up, int up_left) {
  const int estimate = left + up - up_left;
  const int to_left = std::abs(estimate - left);
  const int to_up = std::abs(estimate - up);
  const int to_up_left = std::abs(estimate - up_left);
  if (to_left <= to_up && to_left <= to_up_left) return static_cast<uint8_t>(left);
  return static_cast<uint8_t>(to_up <= to_up_left ? up : up_left);
}

// Row `y` filtered with PNG filter `type` (0 none, 1 sub, 2 up, 4 Paeth).
std::vector<uint8_t> FilterRow(const std::vector<uint8_t>& rgb, size_t stride, size_t y, int type) {
  std::vector<uint8_t> row(stride);
  const uint8_t* line = rgb.data() + y * stride;
  const uint8_t* above = y ? line - stride : nullptr;
  for (size_t x = 0; x < stride; ++x) {
    const int left = x >= 3 ? line[x - 3] : 0;
    const int up = above ? above[x] : 0;
    const int up_left = above && x >= 3 ? above[x - 3] : 0;
    int predicted = 0;
    if (type == 1) predicted = left;
    if (type == 2) predicted = up;
    if (type == 4) predicted = Paeth(left, up, up_left);
    row[x] = static_cast<uint8_t>(line[x] - predicted);
  }
  return row;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

uint32_t Adler32(const uint8_t* data, size_t size) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data) {
  // 32 KiB window, no preset dictionary; 0x7801 is a multiple of 31 as required.
  std::vector<uint8_t> out = {0x78, 0x01};
  BitWriter bits(&out);
  bits.Bits(1, 1);  // final block
  bits.Bits(1, 2);  // fixed Huffman codes

  std::vector<int64_t> head(size_t{1} << kHashBits, -1);
  std::vector<int64_t> previous(data.size(), -1);
  const uint8_t* bytes = data.data();
  size_t at = 0;
  auto remember = [&](size_t position) {
    if (position + kMinMatch > data.size()) return;
    const uint32_t hash = Hash(bytes + position);
    previous[position] = head[hash];
    head[hash] = static_cast<int64_t>(position);
  };
  while (at < data.size()) {
    size_t best_length = 0, best_distance = 0;
    if (at + kMinMatch <= data.size()) {
      const size_t limit = data.size() - at < kMaxMatch ? data.size() - at : kMaxMatch;
      int64_t candidate = head[Hash(bytes + at)];
      for (int chain = 0; candidate >= 0 && chain < kMaxChain; ++chain) {
        const size_t from = static_cast<size_t>(candidate);
        if (at - from > kWindow) break;
        size_t length = 0;
        while (length < limit && bytes[from + length] == bytes[at + length]) ++length;
        if (length > best_length) {
          best_length = length;
          best_distance = at - from;
          if (length == limit) break;
        }
        candidate = previous[from];
      }
    }
    if (best_length >= kMinMatch) {
      Match(&bits, best_length, best_distance);
      for (size_t i = 0; i < best_length; ++i) remember(at + i);
      at += best_length;
    } else {
      LiteralLength(&bits, bytes[at]);
      remember(at);
      ++at;
    }
  }
  LiteralLength(&bits, 256);  // end of block
  bits.Flush();
  Put32(&out, Adler32(data.data(), data.size()));
  return out;
}

std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
  const size_t pixels = rgb.size() / 3;
  if (width == 0 || height == 0 || rgb.size() % 3 != 0 || pixels % width != 0 ||
      pixels / width != height) {
    return {};
  }
  // Each row with the filter that leaves the smallest residues, the usual
  // heuristic: flat window areas then become runs of zeros.
  const size_t stride = size_t{width} * 3;
  std::vector<uint8_t> filtered;
  filtered.reserve((stride + 1) * height);
  for (size_t y = 0; y < height; ++y) {
    std::vector<uint8_t> best;
    int best_type = 0;
    long best_cost = -1;
    for (int type : {0, 1, 2, 4}) {
      std::vector<uint8_t> row = FilterRow(rgb, stride, y, type);
      long cost = 0;
      for (uint8_t value : row) cost += value < 128 ? value : 256 - value;
      if (best_cost < 0 || cost < best_cost) {
        best = std::move(row);
        best_type = type;
        best_cost = cost;
      }
    }
    filtered.push_back(static_cast<uint8_t>(best_type));
    filtered.insert(filtered.end(), best.begin(), best.end());
  }

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  Put32(&header, width);
  Put32(&header, height);
  // 8 bits a sample, colour type 2 (RGB), deflate, adaptive filters, no interlace.
  header.insert(header.end(), {8, 2, 0, 0, 0});
  Chunk(&png, "IHDR", header);
  Chunk(&png, "IDAT", ZlibCompress(filtered));
  Chunk(&png, "IEND", {});
  return png;
}

}  // namespace vireo::pictures
