// payload-bench-host PAYLOAD.bin: the stub's decoder built natively for the
// build machine (x86-64 Linux), timed stage by stage like payload-bench.exe.
// It tells how much of the stub's decoding time is owed to the 32-bit target
// rather than to the code or to Wine. Prints key=value lines: lzma_ms, bcj2_ms,
// decode_cpu_ms.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <vector>

#include "bench/decode_stage_timer.h"

namespace {

void* Allocate(void*, size_t bytes) { return std::malloc(bytes); }
void Release(void*, void* block) { std::free(block); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: payload-bench-host PAYLOAD.bin\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
  std::vector<uint8_t> payload(in ? static_cast<size_t>(in.tellg()) : 0);
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(payload.data()), static_cast<std::streamsize>(payload.size())) ||
      payload.empty()) {
    std::fprintf(stderr, "payload-bench-host: cannot read %s\n", argv[1]);
    return 1;
  }
  const vireo::PayloadAllocator allocator{Allocate, Release, nullptr};
  uint8_t* tar = nullptr;
  uint32_t tar_size = 0;
  vireo::bench::DecodeStageTimes stages;
  // Processor time of this single-threaded process, as payload-bench.exe's thread time.
  const std::clock_t cpu_start = std::clock();
  const vireo::PayloadDecodeStatus status = vireo::bench::DecodeWithStageTimes(
      payload.data(), static_cast<uint32_t>(payload.size()), allocator, &tar, &tar_size, &stages);
  const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  if (status != vireo::PayloadDecodeStatus::kOk) {
    std::fprintf(stderr, "payload-bench-host: decoding failed: %s\n",
                 vireo::DescribePayloadDecodeStatus(status));
    return 1;
  }
  allocator.release(allocator.context, tar);
  std::printf("tar_bytes=%u\nlzma_ms=%.1f\nbcj2_ms=%.1f\ndecode_cpu_ms=%.1f\n", tar_size, stages.lzma_ms,
              stages.bcj2_ms, cpu_ms);
  return 0;
}
