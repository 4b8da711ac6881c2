#include "payload/payload_decoding.h"

#include "payload/payload_memory_decoder.h"

namespace vireo {
namespace {

void* ProcessHeapAllocate(void* heap, size_t bytes) {
  return ::HeapAlloc(static_cast<HANDLE>(heap), 0, bytes);
}

void ProcessHeapRelease(void* heap, void* block) { ::HeapFree(static_cast<HANDLE>(heap), 0, block); }

// Distinct from every decode status, for a write that failed or fell short.
constexpr uint32_t kWriteFailed = 0x100;

}  // namespace

uint32_t DecodePayload(const uint8_t* data, uint32_t size, HANDLE file) {
  const PayloadAllocator allocator{ProcessHeapAllocate, ProcessHeapRelease, ::GetProcessHeap()};
  uint8_t* tar = nullptr;
  uint32_t tar_size = 0;
  const PayloadDecodeStatus status = DecodePayloadToMemory(data, size, allocator, &tar, &tar_size);
  if (status != PayloadDecodeStatus::kOk) {
    // The caller logs GetLastError(); give it the cause rather than whatever came before.
    ::SetLastError(status == PayloadDecodeStatus::kOutOfMemory ? ERROR_NOT_ENOUGH_MEMORY
                                                               : ERROR_INVALID_DATA);
    return static_cast<uint32_t>(status);
  }
  DWORD written = 0;
  const BOOL wrote = ::WriteFile(file, tar, tar_size, &written, nullptr);
  const DWORD write_error = ::GetLastError();
  allocator.release(allocator.context, tar);
  if (!wrote || written != tar_size) {
    ::SetLastError(wrote ? ERROR_WRITE_FAULT : write_error);
    return kWriteFailed;
  }
  return 0;
}

}  // namespace vireo
