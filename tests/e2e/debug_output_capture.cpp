#include "tests/e2e/debug_output_capture.h"

namespace vireo::test {

namespace {

constexpr DWORD kSectionSize = 4096;

}  // namespace

DebugOutputCapture::DebugOutputCapture() {
  buffer_ready_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
  data_ready_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionSize,
                                L"DBWIN_BUFFER");
  if (!buffer_ready_ || !data_ready_ || !section_) return;
  view_ = static_cast<const char*>(MapViewOfFile(section_, FILE_MAP_READ, 0, 0, 0));
  if (!view_) return;
  ok_ = true;
  listener_ = std::thread([this] { Listen(); });
}

DebugOutputCapture::~DebugOutputCapture() {
  stop_ = true;
  if (listener_.joinable()) listener_.join();
  if (view_) UnmapViewOfFile(view_);
  for (HANDLE handle : {section_, data_ready_, buffer_ready_}) {
    if (handle) CloseHandle(handle);
  }
}

std::vector<DebugOutputLine> DebugOutputCapture::Lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void DebugOutputCapture::Listen() {
  SetEvent(buffer_ready_);
  while (!stop_) {
    if (WaitForSingleObject(data_ready_, 50) != WAIT_OBJECT_0) continue;
    DebugOutputLine line;
    line.process_id = *reinterpret_cast<const DWORD*>(view_);
    const char* text = view_ + sizeof(DWORD);
    line.text.assign(text, strnlen(text, kSectionSize - sizeof(DWORD)));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(std::move(line));
    }
    SetEvent(buffer_ready_);
  }
}

}  // namespace vireo::test
