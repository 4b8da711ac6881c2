#include "payload/payload_memory_decoder.h"

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

// First stage: the LZMA-alone stream into a block of exactly its declared size.
PayloadDecodeStatus DecodeLzmaStage(const uint8_t* data, uint32_t size,
                                    const PayloadAllocator& allocator, uint8_t** block,
                                    uint32_t* block_size) {
  LzmaAloneHeader header;
  if (!ReadLzmaAloneHeader(data, size, &header)) return PayloadDecodeStatus::kTooShort;

  SdkAllocator sdk_allocator{{SdkAllocate, SdkRelease}, &allocator};
  CLzmaDec state;
  LzmaDec_CONSTRUCT(&state);
  const SRes allocated =
      LzmaDec_Allocate(&state, header.properties, kLzmaPropertiesSize, &sdk_allocator.interface);
  if (allocated == SZ_ERROR_MEM) return PayloadDecodeStatus::kOutOfMemory;
  if (allocated != SZ_OK) return PayloadDecodeStatus::kBadProperties;
  LzmaDec_Init(&state);

  uint8_t* decoded = AllocateBytes(allocator, header.decoded_size);
  if (!decoded) {
    LzmaDec_Free(&state, &sdk_allocator.interface);
    return PayloadDecodeStatus::kOutOfMemory;
  }
  SizeT decoded_length = header.decoded_size;
  SizeT input_length = size - kLzmaAloneHeaderSize;
  ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
  const SRes result = LzmaDec_DecodeToBuf(&state, decoded, &decoded_length,
                                          data + kLzmaAloneHeaderSize, &input_length,
                                          LZMA_FINISH_END, &status);
  // The dictionary is not needed past this point; free it before the next stage allocates.
  LzmaDec_Free(&state, &sdk_allocator.interface);

  PayloadDecodeStatus outcome = PayloadDecodeStatus::kOk;
  if (result != SZ_OK) {
    outcome = PayloadDecodeStatus::kLzmaDataError;
  } else if (decoded_length != header.decoded_size ||
             (status != LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK &&
              status != LZMA_STATUS_FINISHED_WITH_MARK)) {
    // SZ_OK alone also covers input that ran out, or an end marker, before the declared size.
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

// Second stage: the four BCJ2 streams of `block` into a new tar image.
PayloadDecodeStatus DecodeBcj2Stage(const uint8_t* block, uint32_t block_size,
                                    const PayloadAllocator& allocator, uint8_t** tar,
                                    uint32_t* tar_size) {
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

  uint8_t* output = AllocateBytes(allocator, header.output_size);
  if (!output) return PayloadDecodeStatus::kOutOfMemory;

  CBcj2Dec decoder;
  for (int i = 0; i < kBcj2StreamCount; ++i) {
    decoder.bufs[i] = block + header.stream_offsets[i];
    decoder.lims[i] = decoder.bufs[i] + sizes[i];
  }
  decoder.dest = output;
  decoder.destLim = output + header.output_size;
  Bcj2Dec_Init(&decoder);
  bool finished = Bcj2Dec_Decode(&decoder) == SZ_OK;
  // The same end checks as the SDK's own archive decoder: every input consumed
  // to its limit, the output exactly full, the decoder in a final state.
  for (int i = 0; i < kBcj2StreamCount; ++i) {
    if (decoder.bufs[i] != decoder.lims[i]) finished = false;
  }
  if (decoder.dest != decoder.destLim || !Bcj2Dec_IsMaybeFinished(&decoder)) finished = false;
  if (!finished) {
    allocator.release(allocator.context, output);
    return PayloadDecodeStatus::kBcj2DataError;
  }
  *tar = output;
  *tar_size = header.output_size;
  return PayloadDecodeStatus::kOk;
}

}  // namespace

PayloadDecodeStatus DecodePayloadToMemory(const uint8_t* data, uint32_t size,
                                          const PayloadAllocator& allocator, uint8_t** tar,
                                          uint32_t* tar_size) {
  uint8_t* block = nullptr;
  uint32_t block_size = 0;
  PayloadDecodeStatus status = DecodeLzmaStage(data, size, allocator, &block, &block_size);
  if (status != PayloadDecodeStatus::kOk) return status;
  status = DecodeBcj2Stage(block, block_size, allocator, tar, tar_size);
  allocator.release(allocator.context, block);
  return status;
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
  }
  return "unknown error";
}

}  // namespace vireo
