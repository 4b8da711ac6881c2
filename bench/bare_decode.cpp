// bare-decode.exe PAYLOAD.bin: the floor of the stub's whole run. It maps the
// payload file and does only what no stub can avoid, with the same SDK and the
// same decoder flags: LzmaDecode of the container in one call into the
// decoded block, then the BCJ2 streams into the tar image in memory. No file
// is written and nothing is checked beyond the decoders' own results; the exit
// code is 0 when both stages succeeded. It prints each stage's wall time
// (lzma_ms=, bcj2_ms=), so that the LZMA layer alone can be set beside other
// decoders' on the same stream.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Bcj2.h"
#include "LzmaDec.h"
#include "base/byte_order.h"

namespace {

double MillisecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

void* SdkAllocate(ISzAllocPtr, size_t bytes) { return std::malloc(bytes); }
void SdkRelease(ISzAllocPtr, void* block) { std::free(block); }

int Decode(const uint8_t* payload, uint32_t size) {
  if (size < 13) return 2;
  const uint32_t block_size = vireo::ReadLittleEndian32(payload + 5);
  auto* block = static_cast<uint8_t*>(std::malloc(block_size ? block_size : 1));
  if (!block) return 3;
  const ISzAlloc allocator{SdkAllocate, SdkRelease};
  SizeT decoded = block_size;
  SizeT input = size - 13;
  ELzmaStatus status;
  LARGE_INTEGER start;
  ::QueryPerformanceCounter(&start);
  if (LzmaDecode(block, &decoded, payload + 13, &input, payload, 5, LZMA_FINISH_END, &status,
                 &allocator) != SZ_OK ||
      decoded != block_size || block_size < 20) {
    return 4;
  }
  std::printf("lzma_ms=%.1f\n", MillisecondsSince(start));
  ::QueryPerformanceCounter(&start);
  // The block: output size, then the four stream sizes, then the streams.
  const uint32_t output_size = vireo::ReadLittleEndian32(block);
  auto* output = static_cast<uint8_t*>(std::malloc(output_size ? output_size : 1));
  if (!output) return 3;
  CBcj2Dec bcj2;
  const uint8_t* stream = block + 20;
  for (int i = 0; i < BCJ2_NUM_STREAMS; ++i) {
    const uint32_t length = vireo::ReadLittleEndian32(block + 4 + 4 * i);
    if (length > block_size - static_cast<uint32_t>(stream - block)) return 5;
    bcj2.bufs[i] = stream;
    bcj2.lims[i] = stream + length;
    stream += length;
  }
  bcj2.dest = output;
  bcj2.destLim = output + output_size;
  Bcj2Dec_Init(&bcj2);
  if (Bcj2Dec_Decode(&bcj2) != SZ_OK || bcj2.dest != bcj2.destLim) return 6;
  std::printf("bcj2_ms=%.1f\n", MillisecondsSince(start));
  std::free(output);
  std::free(block);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 1;
  const HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  LARGE_INTEGER size;
  const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const void* view = mapping ? ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (!view || !::GetFileSizeEx(file, &size)) return 1;
  return Decode(static_cast<const uint8_t*>(view), static_cast<uint32_t>(size.QuadPart));
}
