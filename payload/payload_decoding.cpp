#include "payload/payload_decoding.h"

#include "base/logging/log_interface.h"
#include "payload/payload_memory_decoder.h"

namespace vireo {
namespace {

void* ProcessHeapAllocate(void* heap, size_t bytes) {
  return ::HeapAlloc(static_cast<HANDLE>(heap), 0, bytes);
}

void ProcessHeapRelease(void* heap, void* block) { ::HeapFree(static_cast<HANDLE>(heap), 0, block); }

}  // namespace

PayloadFileStatus DecodePayload(const uint8_t* data, uint32_t size, HANDLE file) {
  const PayloadAllocator allocator{ProcessHeapAllocate, ProcessHeapRelease, ::GetProcessHeap()};
  uint8_t* tar = nullptr;
  uint32_t tar_size = 0;
  const PayloadDecodeStatus status = DecodePayloadToMemory(data, size, allocator, &tar, &tar_size);
  if (status != PayloadDecodeStatus::kOk) {
    ::SetLastError(status == PayloadDecodeStatus::kOutOfMemory ? ERROR_NOT_ENOUGH_MEMORY
                                                               : ERROR_INVALID_DATA);
    VIREO_LOG(LC_CORE, LL_ERROR, L"DecodePayloadToMemory failed status:%u err:%d",
              static_cast<uint32_t>(status), ::GetLastError());
    return PayloadFileStatus::kDecodeFailed;
  }
  DWORD written = 0;
  const BOOL wrote = ::WriteFile(file, tar, tar_size, &written, nullptr);
  const DWORD write_error = wrote ? ERROR_WRITE_FAULT : ::GetLastError();
  allocator.release(allocator.context, tar);
  if (!wrote || written != tar_size) {
    ::SetLastError(write_error);
    LogFailedCall(L"WriteFile");
    return PayloadFileStatus::kWriteFailed;
  }
  return PayloadFileStatus::kOk;
}

}  // namespace vireo
