#pragma once
// Inputs and instruments shared by the payload tests of both targets: data
// generators, tar and payload builders, and an allocator that counts, fails on
// request and remembers its peak.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "payload/payload_memory_decoder.h"

namespace vireo::test {

using Bytes = std::vector<uint8_t>;

// `size` pseudo-random (incompressible) bytes, the same for the same `seed`.
Bytes RandomBytes(size_t size, uint32_t seed);

// `size` bytes that look like 32-bit x86 code: instruction-like filler with
// CALL (E8), JMP (E9) and Jcc (0F 8x) carrying relative targets, some of them
// inside the buffer (which BCJ2 converts) and some not.
Bytes X86LikeCode(size_t size, uint32_t seed);

// A GNU tar image of `files` (name, data) as the packer writes it.
Bytes MakeTar(const std::vector<std::pair<std::string, Bytes>>& files);

// The payload container of `tar` with the packer's settings.
Bytes MakePayload(const Bytes& tar);

// An allocator over malloc that counts what is outstanding, records the peak
// and can fail the n-th allocation.
class TestAllocator {
 public:
  // Allocation number `n` (0-based) returns null; -1 never fails.
  explicit TestAllocator(int fail_at = -1) : fail_at_(fail_at) {}
  ~TestAllocator();

  PayloadAllocator allocator();
  int allocations() const { return allocations_; }
  size_t outstanding_blocks() const { return blocks_.size(); }
  size_t outstanding_bytes() const { return outstanding_bytes_; }
  size_t peak_bytes() const { return peak_bytes_; }
  // Sizes of the allocations in the order they were made.
  const std::vector<size_t>& sizes() const { return sizes_; }
  void Release(void* block);

 private:
  static void* AllocateThunk(void* context, size_t bytes);
  static void ReleaseThunk(void* context, void* block);

  int fail_at_;
  int allocations_ = 0;
  std::vector<std::pair<void*, size_t>> blocks_;
  std::vector<size_t> sizes_;
  size_t outstanding_bytes_ = 0;
  size_t peak_bytes_ = 0;
};

struct DecodeOutcome {
  PayloadDecodeStatus status;
  Bytes tar;
};

// DecodePayloadToMemory over malloc, with the result copied out.
DecodeOutcome Decode(const Bytes& payload);

}  // namespace vireo::test
