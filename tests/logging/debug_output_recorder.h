#pragma once
// Records what the current thread writes to the debugger output. Without a
// debugger OutputDebugString raises a printing exception that its own guard
// handles; a vectored handler sees it first, so the text can be read in-process
// without the machine-wide viewer buffer.

#include <windows.h>

#include <string>
#include <vector>

namespace vireo::test {

class DebugOutputRecorder {
 public:
  DebugOutputRecorder();
  ~DebugOutputRecorder();
  DebugOutputRecorder(const DebugOutputRecorder&) = delete;
  DebugOutputRecorder& operator=(const DebugOutputRecorder&) = delete;

  // Every narrow line seen so far (wide ones arrive converted), in order.
  const std::vector<std::string>& lines() const { return lines_; }
  bool Contains(const std::string& line) const;
  void Clear() { lines_.clear(); }

 private:
  static LONG CALLBACK Handler(EXCEPTION_POINTERS* pointers);

  void* handler_ = nullptr;
  DWORD thread_id_ = 0;
  std::vector<std::string> lines_;
};

}  // namespace vireo::test
