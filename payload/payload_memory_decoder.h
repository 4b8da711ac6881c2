#pragma once
// Decoding of the payload container in memory: an LZMA-alone stream whose
// decoded block holds the BCJ2 block header and four BCJ2 streams, which decode
// to the tar image. The only place that calls the LZMA SDK's decoders.

#include <cstddef>
#include <cstdint>

namespace vireo {

// Where every buffer of the decoding comes from. `allocate` returns null on
// failure; `release` is never given null.
struct PayloadAllocator {
  void* (*allocate)(void* context, size_t bytes);
  void (*release)(void* context, void* block);
  void* context;
};

enum class PayloadDecodeStatus : uint32_t {
  kOk = 0,
  kTooShort,         // fewer bytes than the LZMA-alone header
  kBadProperties,    // properties byte the LZMA decoder rejects
  kOutOfMemory,      // decoder state, dictionary, block or tar image
  kLzmaDataError,    // the LZMA decoder reported a data error
  kLzmaIncomplete,   // the LZMA stream ended before the declared size or did not end there
  kBadBlockHeader,   // block shorter than 20 bytes, or streams overrun it
  kBadStreamSizes,   // BCJ2 stream sizes that cannot produce the declared output
  kBcj2DataError,    // BCJ2 streams not consumed exactly, or output not filled
  kSinkRefused,      // the receiver of the tar image (PayloadSink) stopped the decoding
};

// Receives the tar image while it is decoded: its size once, then its bytes in
// order, in pieces of at most kPayloadChunkBytes. A callback that returns false
// stops the decoding with kSinkRefused.
struct PayloadSink {
  bool (*begin)(void* context, uint32_t tar_size);
  bool (*write)(void* context, const uint8_t* bytes, uint32_t count);
  void* context;
};

constexpr uint32_t kPayloadChunkBytes = 1u << 20;

// Decodes the `size`-byte payload at `data` into `sink`. The LZMA stage
// decodes straight into the decoded block (no separate dictionary); the BCJ2
// stage hands its output on chunk by chunk, so the peak is the decoded block
// and one chunk. A BCJ2 stream that turns out bad may fail the decoding after
// some bytes were handed on; nothing is handed on when the LZMA stage or the
// BCJ2 header fails. Every buffer is released before the function returns.
PayloadDecodeStatus DecodePayloadToSink(const uint8_t* data, uint32_t size,
                                        const PayloadAllocator& allocator, const PayloadSink& sink);

// Decodes the `size`-byte payload at `data`. On kOk, `*tar` is the decoded tar
// image of `*tar_size` bytes, allocated through `allocator` (never null, even
// for an empty image), and the caller releases it through `allocator`. On any
// other result `*tar` and `*tar_size` are unchanged and every buffer was
// released. The peak is the decoded block and the tar image.
PayloadDecodeStatus DecodePayloadToMemory(const uint8_t* data, uint32_t size,
                                          const PayloadAllocator& allocator, uint8_t** tar,
                                          uint32_t* tar_size);

// A short English description of `status`, for tools and test messages.
const char* DescribePayloadDecodeStatus(PayloadDecodeStatus status);

}  // namespace vireo
