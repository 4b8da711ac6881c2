// payload-bench.exe PAYLOAD.bin WORK_DIR: runs the stub's payload path once,
// in process and with the stub's own libraries, and prints how long each part
// took as key=value lines:
//
//   lzma_ms     the LZMA stage: the container into the decoded block
//   bcj2_ms     the BCJ2 stage: the decoded block into the tar image
//   write_ms    the tar image written to a "PKT" temporary file with one WriteFile
//   decode_ms   all three, i.e. the stub's DecodePayload
//   extract_ms  the Tar reader unpacking that file into a fresh folder
//   cleanup_ms  the Tar deleting what it wrote, and the tar file removed
//
// DecodePayload is DecodePayloadToMemory over the process heap followed by that
// one WriteFile; calling the two here, with a heap allocator that notes when the
// LZMA stage frees its dictionary, splits the time between the stages without
// changing the code that runs. The payload file is mapped read-only, as the
// stub's resource is part of its mapped image.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "base/unique_handle.h"
#include "payload/payload_memory_decoder.h"
#include "payload/tar.h"

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER value;
    ::QueryPerformanceFrequency(&value);
    return value;
  }();
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER value;
  ::QueryPerformanceCounter(&value);
  return value;
}

// The process heap, as the stub uses it, plus what the benchmark wants to know:
// when the first block is released (the LZMA stage freeing its state right
// after its one decode call) and the most bytes live at once.
struct TimingHeap {
  static constexpr int kMaxBlocks = 16;
  HANDLE heap;
  void* blocks[kMaxBlocks] = {};
  size_t sizes[kMaxBlocks] = {};
  size_t live = 0;
  size_t peak = 0;
  bool released_any = false;
  LARGE_INTEGER first_release = {};

  static void* Allocate(void* context, size_t bytes) {
    TimingHeap* self = static_cast<TimingHeap*>(context);
    void* block = ::HeapAlloc(self->heap, 0, bytes);
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
    TimingHeap* self = static_cast<TimingHeap*>(context);
    if (!self->released_any) {
      self->released_any = true;
      self->first_release = Now();
    }
    for (int i = 0; i < kMaxBlocks; ++i) {
      if (self->blocks[i] == block) {
        self->live -= self->sizes[i];
        self->blocks[i] = nullptr;
        break;
      }
    }
    ::HeapFree(self->heap, 0, block);
  }
};

void CountFile(void* context, const wchar_t*) { ++*static_cast<int*>(context); }

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

  TimingHeap heap{::GetProcessHeap()};
  const vireo::PayloadAllocator allocator{TimingHeap::Allocate, TimingHeap::Release, &heap};
  uint8_t* tar = nullptr;
  uint32_t tar_size = 0;
  const LARGE_INTEGER decode_start = Now();
  const vireo::PayloadDecodeStatus status = vireo::DecodePayloadToMemory(
      payload, static_cast<uint32_t>(payload_size.QuadPart), allocator, &tar, &tar_size);
  const LARGE_INTEGER decoded = Now();
  if (status != vireo::PayloadDecodeStatus::kOk) {
    std::fwprintf(stderr, L"payload-bench: decoding failed: %hs\n",
                  vireo::DescribePayloadDecodeStatus(status));
    return 1;
  }
  DWORD written = 0;
  const BOOL wrote = ::WriteFile(tar_file.get(), tar, tar_size, &written, nullptr);
  TimingHeap::Release(&heap, tar);
  const LARGE_INTEGER write_end = Now();
  if (!wrote || written != tar_size) return Fail(L"writing the tar file");
  const LARGE_INTEGER zero = {};
  if (!::SetFilePointerEx(tar_file.get(), zero, nullptr, FILE_BEGIN)) return Fail(L"rewinding");

  wchar_t extract_dir[MAX_PATH];
  std::swprintf(extract_dir, MAX_PATH, L"%ls\\extract-%lu", work_dir, ::GetCurrentProcessId());
  if (!::CreateDirectoryW(extract_dir, nullptr)) return Fail(L"creating the extraction folder");
  int files = 0;
  double extract_ms = 0;
  LARGE_INTEGER cleanup_start;
  bool extracted = false;
  {
    vireo::Tar reader(extract_dir, tar_file.get(), true);
    reader.SetFileCallback(CountFile, &files);
    const LARGE_INTEGER extract_start = Now();
    extracted = reader.ExtractToDir();
    cleanup_start = Now();
    extract_ms = Milliseconds(extract_start, cleanup_start);
  }
  tar_file.reset();
  ::DeleteFileW(tar_path);
  ::RemoveDirectoryW(extract_dir);
  const LARGE_INTEGER cleanup_end = Now();
  if (!extracted) return Fail(L"extracting the tar");

  std::wprintf(L"payload_bytes=%llu\n", static_cast<unsigned long long>(payload_size.QuadPart));
  std::wprintf(L"tar_bytes=%lu\n", static_cast<unsigned long>(tar_size));
  std::wprintf(L"files=%d\n", files);
  std::wprintf(L"heap_peak_bytes=%lu\n", static_cast<unsigned long>(heap.peak));
  std::wprintf(L"lzma_ms=%.1f\n", Milliseconds(decode_start, heap.first_release));
  std::wprintf(L"bcj2_ms=%.1f\n", Milliseconds(heap.first_release, decoded));
  std::wprintf(L"write_ms=%.1f\n", Milliseconds(decoded, write_end));
  std::wprintf(L"decode_ms=%.1f\n", Milliseconds(decode_start, write_end));
  std::wprintf(L"extract_ms=%.1f\n", extract_ms);
  std::wprintf(L"cleanup_ms=%.1f\n", Milliseconds(cleanup_start, cleanup_end));
  return 0;
}
