#include "payload/payload_decoding.h"

#include "logging/log_interface.h"
#include "payload/payload_memory_decoder.h"

namespace vireo {
namespace {

void* ProcessHeapAllocate(void* heap, size_t bytes) {
  return ::HeapAlloc(static_cast<HANDLE>(heap), 0, bytes);
}

void ProcessHeapRelease(void* heap, void* block) { ::HeapFree(static_cast<HANDLE>(heap), 0, block); }

struct FileSink {
  HANDLE file;
  DWORD write_error = ERROR_SUCCESS;

  static bool Begin(void*, uint32_t) { return true; }
  static bool Write(void* context, const uint8_t* bytes, uint32_t count) {
    auto* self = static_cast<FileSink*>(context);
    DWORD written = 0;
    if (!::WriteFile(self->file, bytes, count, &written, nullptr)) {
      self->write_error = ::GetLastError();
      return false;
    }
    if (written != count) {
      self->write_error = ERROR_WRITE_FAULT;
      return false;
    }
    return true;
  }
};

}  // namespace

PayloadFileStatus DecodePayload(const uint8_t* data, uint32_t size, HANDLE file) {
  const PayloadAllocator allocator{ProcessHeapAllocate, ProcessHeapRelease, ::GetProcessHeap()};
  FileSink file_sink{file};
  const PayloadSink sink{FileSink::Begin, FileSink::Write, &file_sink};
  const PayloadDecodeStatus status = DecodePayloadToSink(data, size, allocator, sink);
  if (status == PayloadDecodeStatus::kSinkRefused) {
    ::SetLastError(file_sink.write_error);
    LogFailedCall(L"WriteFile");
    return PayloadFileStatus::kWriteFailed;
  }
  if (status != PayloadDecodeStatus::kOk) {
    ::SetLastError(status == PayloadDecodeStatus::kOutOfMemory ? ERROR_NOT_ENOUGH_MEMORY
                                                               : ERROR_INVALID_DATA);
    VIREO_LOG(LC_CORE, LL_ERROR, L"DecodePayloadToSink failed status:%u err:%d",
              static_cast<uint32_t>(status), ::GetLastError());
    return PayloadFileStatus::kDecodeFailed;
  }
  return PayloadFileStatus::kOk;
}

}  // namespace vireo
