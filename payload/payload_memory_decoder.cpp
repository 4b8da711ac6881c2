#include "payload/payload_memory_decoder.h"

#include <cstring>

#include "Bcj2.h"
#include "LzmaDec.h"
#include "payload/bcj2_block_header.h"
#include "payload/lzma_alone_header.h"

namespace vireo {
namespace {

// The SDK's allocator interface over a PayloadAllocator. The interface is the
// first member, so the SDK's pointer to it is a pointer to the whole adapter.
struct SdkAllocator {
  ISzAlloc interface;
  const PayloadAllocator* allocator;
};

void* SdkAllocate(ISzAllocPtr self, size_t bytes) {
  const PayloadAllocator* allocator = reinterpret_cast<const SdkAllocator*>(self)->allocator;
  return allocator->allocate(allocator->context, bytes);
}

void SdkRelease(ISzAllocPtr self, void* block) {
  if (!block) return;
  const PayloadAllocator* allocator = reinterpret_cast<const SdkAllocator*>(self)->allocator;
  allocator->release(allocator->context, block);
}

// A zero-byte request still yields a distinct block, so null always means failure.
uint8_t* AllocateBytes(const PayloadAllocator& allocator, uint32_t bytes) {
  return static_cast<uint8_t*>(allocator.allocate(allocator.context, bytes ? bytes : 1));
}

// First stage: the LZMA-alone stream into a block of exactly its declared
// size, which is the decoder's dictionary as well (no ring buffer, no copy).
PayloadDecodeStatus DecodeLzmaStage(const uint8_t* data, uint32_t size,
                                    const PayloadAllocator& allocator, uint8_t** block,
                                    uint32_t* block_size) {
  LzmaAloneHeader header;
  if (!ReadLzmaAloneHeader(data, size, &header)) return PayloadDecodeStatus::kTooShort;

  uint8_t* decoded = AllocateBytes(allocator, header.decoded_size);
  if (!decoded) return PayloadDecodeStatus::kOutOfMemory;
  SdkAllocator sdk_allocator{{SdkAllocate, SdkRelease}, &allocator};
  SizeT decoded_length = header.decoded_size;
  SizeT input_length = size - kLzmaAloneHeaderSize;
  ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
  const SRes result =
      LzmaDecode(decoded, &decoded_length, data + kLzmaAloneHeaderSize, &input_length,
                 header.properties, kLzmaPropertiesSize, LZMA_FINISH_END, &status,
                 &sdk_allocator.interface);

  PayloadDecodeStatus outcome = PayloadDecodeStatus::kOk;
  if (result == SZ_ERROR_MEM) {
    outcome = PayloadDecodeStatus::kOutOfMemory;
  } else if (result == SZ_ERROR_UNSUPPORTED) {
    outcome = PayloadDecodeStatus::kBadProperties;
  } else if (result == SZ_ERROR_INPUT_EOF) {
    outcome = PayloadDecodeStatus::kLzmaIncomplete;
  } else if (result != SZ_OK) {
    outcome = PayloadDecodeStatus::kLzmaDataError;
  } else if (decoded_length != header.decoded_size ||
             (status != LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK &&
              status != LZMA_STATUS_FINISHED_WITH_MARK)) {
    // SZ_OK alone also covers an end marker before the declared size.
    outcome = PayloadDecodeStatus::kLzmaIncomplete;
  }
  if (outcome != PayloadDecodeStatus::kOk) {
    allocator.release(allocator.context, decoded);
    return outcome;
  }
  *block = decoded;
  *block_size = header.decoded_size;
  return PayloadDecodeStatus::kOk;
}

// Second stage: the four BCJ2 streams of `block` into `sink`, a chunk at a time.
PayloadDecodeStatus DecodeBcj2Stage(const uint8_t* block, uint32_t block_size,
                                    const PayloadAllocator& allocator, const PayloadSink& sink) {
  Bcj2BlockHeader header;
  if (!ReadBcj2BlockHeader(block, block_size, &header)) return PayloadDecodeStatus::kBadBlockHeader;
  const uint32_t* sizes = header.stream_sizes;
  // The decoder reads branch targets 4 bytes at a time, and every output byte
  // comes from the main stream or from a target: anything else cannot decode exactly.
  if ((sizes[BCJ2_STREAM_CALL] & 3) != 0 || (sizes[BCJ2_STREAM_JUMP] & 3) != 0 ||
      static_cast<uint64_t>(sizes[BCJ2_STREAM_MAIN]) + sizes[BCJ2_STREAM_CALL] +
              sizes[BCJ2_STREAM_JUMP] !=
          header.output_size) {
    return PayloadDecodeStatus::kBadStreamSizes;
  }

  const uint32_t chunk_bytes =
      header.output_size < kPayloadChunkBytes ? header.output_size : kPayloadChunkBytes;
  uint8_t* chunk = AllocateBytes(allocator, chunk_bytes);
  if (!chunk) return PayloadDecodeStatus::kOutOfMemory;
  if (!sink.begin(sink.context, header.output_size)) {
    allocator.release(allocator.context, chunk);
    return PayloadDecodeStatus::kSinkRefused;
  }

  CBcj2Dec decoder;
  for (int i = 0; i < kBcj2StreamCount; ++i) {
    decoder.bufs[i] = block + header.stream_offsets[i];
    decoder.lims[i] = decoder.bufs[i] + sizes[i];
  }
  Bcj2Dec_Init(&decoder);
  PayloadDecodeStatus outcome = PayloadDecodeStatus::kOk;
  uint32_t remaining = header.output_size;
  while (remaining > 0) {
    const uint32_t wanted = remaining < chunk_bytes ? remaining : chunk_bytes;
    decoder.dest = chunk;
    decoder.destLim = chunk + wanted;
    // With every stream whole in memory, a call that stops short of its limit
    // ran out of a stream: the streams cannot produce the declared output.
    if (Bcj2Dec_Decode(&decoder) != SZ_OK || decoder.dest != decoder.destLim) {
      outcome = PayloadDecodeStatus::kBcj2DataError;
      break;
    }
    if (!sink.write(sink.context, chunk, wanted)) {
      outcome = PayloadDecodeStatus::kSinkRefused;
      break;
    }
    remaining -= wanted;
  }
  allocator.release(allocator.context, chunk);
  if (outcome != PayloadDecodeStatus::kOk) return outcome;
  // The same end checks as the SDK's own archive decoder: every input consumed
  // to its limit and the decoder in a final state.
  for (int i = 0; i < kBcj2StreamCount; ++i) {
    if (decoder.bufs[i] != decoder.lims[i]) return PayloadDecodeStatus::kBcj2DataError;
  }
  if (!Bcj2Dec_IsMaybeFinished(&decoder)) return PayloadDecodeStatus::kBcj2DataError;
  return PayloadDecodeStatus::kOk;
}

// The sink of DecodePayloadToMemory: one buffer of the image's size.
struct MemorySink {
  const PayloadAllocator* allocator;
  uint8_t* tar = nullptr;
  uint32_t size = 0;
  uint32_t filled = 0;

  static bool Begin(void* context, uint32_t tar_size) {
    auto* self = static_cast<MemorySink*>(context);
    self->tar = AllocateBytes(*self->allocator, tar_size);
    self->size = tar_size;
    return self->tar != nullptr;
  }
  static bool Write(void* context, const uint8_t* bytes, uint32_t count) {
    auto* self = static_cast<MemorySink*>(context);
    std::memcpy(self->tar + self->filled, bytes, count);
    self->filled += count;
    return true;
  }
};

}  // namespace

PayloadDecodeStatus DecodePayloadToSink(const uint8_t* data, uint32_t size,
                                        const PayloadAllocator& allocator, const PayloadSink& sink) {
  uint8_t* block = nullptr;
  uint32_t block_size = 0;
  PayloadDecodeStatus status = DecodeLzmaStage(data, size, allocator, &block, &block_size);
  if (status != PayloadDecodeStatus::kOk) return status;
  status = DecodeBcj2Stage(block, block_size, allocator, sink);
  allocator.release(allocator.context, block);
  return status;
}

PayloadDecodeStatus DecodePayloadToMemory(const uint8_t* data, uint32_t size,
                                          const PayloadAllocator& allocator, uint8_t** tar,
                                          uint32_t* tar_size) {
  MemorySink memory;
  memory.allocator = &allocator;
  const PayloadSink sink{MemorySink::Begin, MemorySink::Write, &memory};
  PayloadDecodeStatus status = DecodePayloadToSink(data, size, allocator, sink);
  // The only refusal of the memory sink is its allocation.
  if (status == PayloadDecodeStatus::kSinkRefused) status = PayloadDecodeStatus::kOutOfMemory;
  if (status != PayloadDecodeStatus::kOk) {
    if (memory.tar) allocator.release(allocator.context, memory.tar);
    return status;
  }
  *tar = memory.tar;
  *tar_size = memory.size;
  return PayloadDecodeStatus::kOk;
}

const char* DescribePayloadDecodeStatus(PayloadDecodeStatus status) {
  switch (status) {
    case PayloadDecodeStatus::kOk:
      return "decoded";
    case PayloadDecodeStatus::kTooShort:
      return "shorter than the 13-byte LZMA header";
    case PayloadDecodeStatus::kBadProperties:
      return "LZMA properties not supported";
    case PayloadDecodeStatus::kOutOfMemory:
      return "out of memory";
    case PayloadDecodeStatus::kLzmaDataError:
      return "LZMA data error";
    case PayloadDecodeStatus::kLzmaIncomplete:
      return "LZMA stream does not end at its declared size";
    case PayloadDecodeStatus::kBadBlockHeader:
      return "BCJ2 streams do not fit the decoded block";
    case PayloadDecodeStatus::kBadStreamSizes:
      return "BCJ2 stream sizes do not match the output size";
    case PayloadDecodeStatus::kBcj2DataError:
      return "BCJ2 streams do not decode to exactly the output size";
    case PayloadDecodeStatus::kSinkRefused:
      return "the receiver of the tar image stopped the decoding";
  }
  return "unknown error";
}

}  // namespace vireo
