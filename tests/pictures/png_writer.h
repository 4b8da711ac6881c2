#pragma once
// PNG files of 8-bit RGB pictures, written without an image or compression
// library: the pictures of the failure box are taken on build machines that
// have neither.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vireo::pictures {

// CRC-32 as PNG chunks carry it, of `size` bytes at `data`.
uint32_t Crc32(const uint8_t* data, size_t size);

// Adler-32 as a zlib stream ends with it, of `size` bytes at `data`.
uint32_t Adler32(const uint8_t* data, size_t size);

// `data` as a zlib stream: one final deflate block with the fixed Huffman
// codes, greedy matches within a 32 KiB window.
std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data);

// The PNG file of a picture `width` x `height` pixels (both at least 1) given
// as `rgb`: rows top first, each `width * 3` bytes of red, green, blue.
// Empty when the sizes do not fit.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

}  // namespace vireo::pictures
