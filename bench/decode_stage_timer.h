#pragma once
// Times the two stages of the payload decoding without changing the code that
// runs: the decoding is the library's own, over an allocator that passes every
// request on and notes when the LZMA stage frees its state, which it does right
// after its one decode call and before the BCJ2 stage allocates anything.

#include <cstddef>
#include <cstdint>

#include "payload/payload_memory_decoder.h"

namespace vireo::bench {

struct DecodeStageTimes {
  double lzma_ms = 0;
  double bcj2_ms = 0;
  // The most bytes allocated through the allocator at one time.
  size_t peak_bytes = 0;
};

// DecodePayloadToMemory over `allocator`, timed stage by stage into `*times`.
// Returns its status; `*tar` and `*tar_size` are as it leaves them, and on kOk
// the caller releases `*tar` through `allocator`.
PayloadDecodeStatus DecodeWithStageTimes(const uint8_t* data, uint32_t size,
                                         const PayloadAllocator& allocator, uint8_t** tar,
                                         uint32_t* tar_size, DecodeStageTimes* times);

// DecodePayloadToSink over `allocator` into `sink`, timed the same way: the
// BCJ2 stage's time includes what the sink spends.
PayloadDecodeStatus DecodeToSinkWithStageTimes(const uint8_t* data, uint32_t size,
                                               const PayloadAllocator& allocator,
                                               const PayloadSink& sink, DecodeStageTimes* times);

}  // namespace vireo::bench
