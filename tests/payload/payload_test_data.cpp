#include "tests/payload/payload_test_data.h"

#include <algorithm>
#include <cstdlib>
#include <random>

#include "tools/payload_encoding/gnu_tar_writer.h"
#include "tools/payload_encoding/payload_encoder.h"

namespace vireo::test {

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

Bytes X86LikeCode(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes code;
  code.reserve(size + 8);
  static const uint8_t kFiller[][3] = {
      {0x55, 0x8B, 0xEC}, {0x83, 0xEC, 0x10}, {0x8B, 0x45, 0x08}, {0x50, 0x51, 0x52},
      {0x33, 0xC0, 0x90}, {0x5D, 0xC3, 0x90}, {0x89, 0x45, 0xFC}, {0x85, 0xC0, 0x74}};
  while (code.size() < size) {
    const uint32_t pick = random() % 10;
    if (pick < 3) {
      // A branch: CALL, JMP, or a conditional jump; most targets stay inside.
      if (pick == 0) code.push_back(0xE8);
      if (pick == 1) code.push_back(0xE9);
      if (pick == 2) {
        code.push_back(0x0F);
        code.push_back(static_cast<uint8_t>(0x80 + random() % 16));
      }
      const int32_t target = static_cast<int32_t>(random() % (size + 1));
      const int32_t relative = random() % 8 == 0 ? static_cast<int32_t>(random())
                                                 : target - static_cast<int32_t>(code.size() + 4);
      for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(relative >> (8 * i)));
    } else {
      const uint8_t* filler = kFiller[random() % 8];
      code.insert(code.end(), filler, filler + 3);
    }
  }
  code.resize(size);
  return code;
}

Bytes MakeTar(const std::vector<std::pair<std::string, Bytes>>& files) {
  GnuTarWriter writer;
  for (const auto& [name, data] : files) writer.AddFile(name, data.data(), data.size());
  return writer.Finish();
}

Bytes MakePayload(const Bytes& tar) { return EncodePayload(tar.data(), tar.size()); }

TestAllocator::~TestAllocator() {
  for (const auto& block : blocks_) std::free(block.first);
}

PayloadAllocator TestAllocator::allocator() { return {AllocateThunk, ReleaseThunk, this}; }

void* TestAllocator::AllocateThunk(void* context, size_t bytes) {
  auto* self = static_cast<TestAllocator*>(context);
  const int number = self->allocations_++;
  self->sizes_.push_back(bytes);
  if (number == self->fail_at_) return nullptr;
  void* block = std::malloc(bytes ? bytes : 1);
  if (!block) return nullptr;
  self->blocks_.emplace_back(block, bytes);
  self->outstanding_bytes_ += bytes;
  self->peak_bytes_ = std::max(self->peak_bytes_, self->outstanding_bytes_);
  return block;
}

void TestAllocator::ReleaseThunk(void* context, void* block) {
  static_cast<TestAllocator*>(context)->Release(block);
}

void TestAllocator::Release(void* block) {
  const auto it = std::find_if(blocks_.begin(), blocks_.end(),
                               [&](const auto& entry) { return entry.first == block; });
  if (it == blocks_.end()) std::abort();  // released twice, or never allocated here
  outstanding_bytes_ -= it->second;
  blocks_.erase(it);
  std::free(block);
}

DecodeOutcome Decode(const Bytes& payload) {
  TestAllocator allocator;
  uint8_t* tar = nullptr;
  uint32_t tar_size = 0;
  DecodeOutcome outcome;
  outcome.status = DecodePayloadToMemory(payload.data(), static_cast<uint32_t>(payload.size()),
                                         allocator.allocator(), &tar, &tar_size);
  if (outcome.status == PayloadDecodeStatus::kOk) {
    outcome.tar.assign(tar, tar + tar_size);
    allocator.Release(tar);
  }
  return outcome;
}

}  // namespace vireo::test
