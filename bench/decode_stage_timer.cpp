#include "bench/decode_stage_timer.h"

#include <chrono>

namespace vireo::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The decoding holds a handful of blocks at once (decoded block, LZMA state,
// chunk, tar image); a small table is enough to know their sizes.
struct RecordingAllocator {
  static constexpr int kMaxBlocks = 16;
  const PayloadAllocator* inner;
  void* blocks[kMaxBlocks] = {};
  size_t sizes[kMaxBlocks] = {};
  size_t live = 0;
  size_t peak = 0;
  bool released_any = false;
  Clock::time_point first_release;

  static void* Allocate(void* context, size_t bytes) {
    RecordingAllocator* self = static_cast<RecordingAllocator*>(context);
    void* block = self->inner->allocate(self->inner->context, bytes);
    if (!block) return nullptr;
    for (int i = 0; i < kMaxBlocks; ++i) {
      if (!self->blocks[i]) {
        self->blocks[i] = block;
        self->sizes[i] = bytes;
        break;
      }
    }
    self->live += bytes;
    if (self->live > self->peak) self->peak = self->live;
    return block;
  }

  static void Release(void* context, void* block) {
    RecordingAllocator* self = static_cast<RecordingAllocator*>(context);
    if (!self->released_any) {
      self->released_any = true;
      self->first_release = Clock::now();
    }
    for (int i = 0; i < kMaxBlocks; ++i) {
      if (self->blocks[i] == block) {
        self->live -= self->sizes[i];
        self->blocks[i] = nullptr;
        break;
      }
    }
    self->inner->release(self->inner->context, block);
  }
};

// Runs `decode` over a recording allocator and splits its time at the LZMA
// stage's first release.
template <typename Decode>
PayloadDecodeStatus Timed(const PayloadAllocator& allocator, DecodeStageTimes* times,
                          Decode decode) {
  RecordingAllocator recorder;
  recorder.inner = &allocator;
  const PayloadAllocator recording{RecordingAllocator::Allocate, RecordingAllocator::Release,
                                   &recorder};
  const Clock::time_point start = Clock::now();
  const PayloadDecodeStatus status = decode(recording);
  const Clock::time_point end = Clock::now();
  const Clock::time_point split = recorder.released_any ? recorder.first_release : end;
  times->lzma_ms = Milliseconds(start, split);
  times->bcj2_ms = Milliseconds(split, end);
  times->peak_bytes = recorder.peak;
  return status;
}

}  // namespace

PayloadDecodeStatus DecodeWithStageTimes(const uint8_t* data, uint32_t size,
                                         const PayloadAllocator& allocator, uint8_t** tar,
                                         uint32_t* tar_size, DecodeStageTimes* times) {
  return Timed(allocator, times, [&](const PayloadAllocator& recording) {
    return DecodePayloadToMemory(data, size, recording, tar, tar_size);
  });
}

PayloadDecodeStatus DecodeToSinkWithStageTimes(const uint8_t* data, uint32_t size,
                                               const PayloadAllocator& allocator,
                                               const PayloadSink& sink, DecodeStageTimes* times) {
  return Timed(allocator, times, [&](const PayloadAllocator& recording) {
    return DecodePayloadToSink(data, size, recording, sink);
  });
}

}  // namespace vireo::bench
