#pragma once
// Captures debugger output the way a debug-output viewer does: through the
// shared "DBWIN_BUFFER" section and its two events, which OutputDebugString
// uses when no debugger is attached to the writing process.

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vireo::test {

struct DebugOutputLine {
  DWORD process_id;
  std::string text;
};

class DebugOutputCapture {
 public:
  // Starts listening; `ok()` tells whether the shared objects could be made
  // (another viewer may own them).
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  bool ok() const { return ok_; }
  // Everything captured so far, in arrival order.
  std::vector<DebugOutputLine> Lines();

 private:
  void Listen();

  HANDLE buffer_ready_ = nullptr;
  HANDLE data_ready_ = nullptr;
  HANDLE section_ = nullptr;
  const char* view_ = nullptr;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<DebugOutputLine> lines_;
  std::thread listener_;
};

}  // namespace vireo::test
