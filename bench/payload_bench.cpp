// payload-bench.exe PAYLOAD.bin WORK_DIR: runs the stub's payload path once,
// in process and with the stub's own libraries, and prints how long each part
// took as key=value lines:
//
//   block_fault_ms  a fresh block of the decoded block's size allocated
//               from the process heap, written once per page and freed,
//               before the decoding: the page faults that the LZMA stage,
//               which decodes into such a block, pays on top of decoding
//   lzma_ms     the LZMA stage: the container into the decoded block
//   bcj2_ms     the BCJ2 stage: the decoded block into the tar image, without
//               the writes
//   decode_cpu_ms  processor time of both stages and the writes (this thread's
//               user + kernel)
//   write_ms    the tar image written, chunk by chunk as the BCJ2 stage hands
//               it on, to a "PKT" temporary file
//   decode_ms   all three, i.e. the stub's DecodePayload
//   extract_ms  the Tar reader unpacking that file into a fresh folder
//   cleanup_ms  the extracted files and the tar file removed
//
// The stub's DecodePayload is DecodePayloadToSink over the process heap with a
// sink that writes each chunk to the file; the same is done here, timed stage
// by stage (see decode_stage_timer.h). The payload file is mapped read-only,
// as the stub's resource is part of its mapped image.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "bench/decode_stage_timer.h"
#include "payload/lzma_alone_header.h"
#include "payload/payload_memory_decoder.h"
#include "payload/tar.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// User and kernel time of this thread so far, in milliseconds: unlike the wall
// time, it does not grow while other processes hold the processor.
double ThreadCpuMilliseconds() {
  FILETIME creation, exit, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &creation, &exit, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

// The process heap, as the stub's DecodePayload uses it.
void* ProcessHeapAllocate(void*, size_t bytes) { return ::HeapAlloc(::GetProcessHeap(), 0, bytes); }
void ProcessHeapRelease(void*, void* block) { ::HeapFree(::GetProcessHeap(), 0, block); }

// The stub's file sink, with the time its writes take.
struct TimedFileSink {
  HANDLE file;
  double write_ms = 0;

  static bool Begin(void*, uint32_t) { return true; }
  static bool Write(void* context, const uint8_t* bytes, uint32_t count) {
    auto* self = static_cast<TimedFileSink*>(context);
    const Clock::time_point start = Clock::now();
    DWORD written = 0;
    const bool whole = ::WriteFile(self->file, bytes, count, &written, nullptr) && written == count;
    self->write_ms += Milliseconds(start, Clock::now());
    return whole;
  }
};

// The extracted files, removed afterwards as the stub removes them.
void RecordFile(void* context, const wchar_t* path) {
  static_cast<std::vector<std::wstring>*>(context)->push_back(path);
}

// Milliseconds to allocate `bytes` from the process heap, write a byte to
// every page and free them again: what faulting in a fresh block costs.
double BlockFaultMilliseconds(uint32_t bytes) {
  SYSTEM_INFO system;
  ::GetSystemInfo(&system);
  const Clock::time_point start = Clock::now();
  auto* block = static_cast<volatile uint8_t*>(::HeapAlloc(::GetProcessHeap(), 0, bytes));
  if (!block) return 0;
  for (uint32_t offset = 0; offset < bytes; offset += system.dwPageSize) block[offset] = 1;
  ::HeapFree(::GetProcessHeap(), 0, const_cast<uint8_t*>(block));
  return Milliseconds(start, Clock::now());
}

int Fail(const wchar_t* what) {
  std::fwprintf(stderr, L"payload-bench: %ls failed (error %lu)\n", what, ::GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: payload-bench PAYLOAD.bin WORK_DIR\n");
    return 2;
  }
  const wchar_t* payload_path = argv[1];
  const wchar_t* work_dir = argv[2];

  vireo::UniqueFile payload_file(::CreateFileW(payload_path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
  if (!payload_file) return Fail(L"opening the payload");
  LARGE_INTEGER payload_size;
  if (!::GetFileSizeEx(payload_file.get(), &payload_size)) return Fail(L"GetFileSizeEx");
  vireo::UniqueKernelHandle mapping(
      ::CreateFileMappingW(payload_file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return Fail(L"CreateFileMappingW");
  vireo::UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return Fail(L"MapViewOfFile");
  const uint8_t* payload = static_cast<const uint8_t*>(view.get());

  // The temporary tar file, named and opened as the stub does it.
  wchar_t tar_path[MAX_PATH];
  if (!::GetTempFileNameW(work_dir, L"PKT", 0, tar_path)) return Fail(L"GetTempFileNameW");
  vireo::UniqueFile tar_file(::CreateFileW(tar_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_ALWAYS, 0, nullptr));
  if (!tar_file) return Fail(L"opening the tar file");

  vireo::LzmaAloneHeader header;
  if (!vireo::ReadLzmaAloneHeader(payload, static_cast<uint32_t>(payload_size.QuadPart), &header)) {
    std::fwprintf(stderr, L"payload-bench: no LZMA-alone header\n");
    return 1;
  }
  const double block_fault_ms = BlockFaultMilliseconds(header.decoded_size);

  const vireo::PayloadAllocator allocator{ProcessHeapAllocate, ProcessHeapRelease, nullptr};
  TimedFileSink file_sink{tar_file.get()};
  const vireo::PayloadSink sink{TimedFileSink::Begin, TimedFileSink::Write, &file_sink};
  vireo::bench::DecodeStageTimes stages;
  const double cpu_start = ThreadCpuMilliseconds();
  const Clock::time_point decode_start = Clock::now();
  const vireo::PayloadDecodeStatus status = vireo::bench::DecodeToSinkWithStageTimes(
      payload, static_cast<uint32_t>(payload_size.QuadPart), allocator, sink, &stages);
  const Clock::time_point write_end = Clock::now();
  const double decode_cpu_ms = ThreadCpuMilliseconds() - cpu_start;
  if (status == vireo::PayloadDecodeStatus::kSinkRefused) return Fail(L"writing the tar file");
  if (status != vireo::PayloadDecodeStatus::kOk) {
    std::fwprintf(stderr, L"payload-bench: decoding failed: %hs\n",
                  vireo::DescribePayloadDecodeStatus(status));
    return 1;
  }
  stages.bcj2_ms -= file_sink.write_ms;
  LARGE_INTEGER tar_bytes = {};
  if (!::GetFileSizeEx(tar_file.get(), &tar_bytes)) return Fail(L"GetFileSizeEx");
  const uint32_t tar_size = static_cast<uint32_t>(tar_bytes.QuadPart);
  const LARGE_INTEGER zero = {};
  if (!::SetFilePointerEx(tar_file.get(), zero, nullptr, FILE_BEGIN)) return Fail(L"rewinding");

  wchar_t extract_dir[MAX_PATH];
  std::swprintf(extract_dir, MAX_PATH, L"%ls\\extract-%lu", work_dir, ::GetCurrentProcessId());
  if (!::CreateDirectoryW(extract_dir, nullptr)) return Fail(L"creating the extraction folder");
  std::vector<std::wstring> files;
  double extract_ms = 0;
  Clock::time_point cleanup_start;
  bool extracted = false;
  {
    vireo::Tar reader(extract_dir, tar_file.get());
    reader.SetFileCallback(RecordFile, &files);
    const Clock::time_point extract_start = Clock::now();
    extracted = reader.ExtractToDir();
    cleanup_start = Clock::now();
    extract_ms = Milliseconds(extract_start, cleanup_start);
  }
  for (const std::wstring& file : files) ::DeleteFileW(file.c_str());
  tar_file.reset();
  ::DeleteFileW(tar_path);
  ::RemoveDirectoryW(extract_dir);
  const Clock::time_point cleanup_end = Clock::now();
  if (!extracted) return Fail(L"extracting the tar");

  std::wprintf(L"payload_bytes=%llu\n", static_cast<unsigned long long>(payload_size.QuadPart));
  std::wprintf(L"tar_bytes=%lu\n", static_cast<unsigned long>(tar_size));
  std::wprintf(L"files=%u\n", static_cast<unsigned>(files.size()));
  std::wprintf(L"heap_peak_bytes=%lu\n", static_cast<unsigned long>(stages.peak_bytes));
  std::wprintf(L"block_fault_ms=%.1f\n", block_fault_ms);
  std::wprintf(L"lzma_ms=%.1f\n", stages.lzma_ms);
  std::wprintf(L"bcj2_ms=%.1f\n", stages.bcj2_ms);
  std::wprintf(L"decode_cpu_ms=%.1f\n", decode_cpu_ms);
  std::wprintf(L"write_ms=%.1f\n", file_sink.write_ms);
  std::wprintf(L"decode_ms=%.1f\n", Milliseconds(decode_start, write_end));
  std::wprintf(L"extract_ms=%.1f\n", extract_ms);
  std::wprintf(L"cleanup_ms=%.1f\n", Milliseconds(cleanup_start, cleanup_end));
  return 0;
}
