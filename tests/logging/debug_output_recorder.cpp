#include "tests/logging/debug_output_recorder.h"

#include <algorithm>

namespace vireo::test {

namespace {

constexpr DWORD kPrintException = 0x40010006;  // DBG_PRINTEXCEPTION_C

// One recorder at a time; the handler runs on the writing thread.
DebugOutputRecorder* active = nullptr;

}  // namespace

DebugOutputRecorder::DebugOutputRecorder() : thread_id_(GetCurrentThreadId()) {
  active = this;
  handler_ = AddVectoredExceptionHandler(1, &Handler);
}

DebugOutputRecorder::~DebugOutputRecorder() {
  RemoveVectoredExceptionHandler(handler_);
  active = nullptr;
}

bool DebugOutputRecorder::Contains(const std::string& line) const {
  return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

LONG CALLBACK DebugOutputRecorder::Handler(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (!active || GetCurrentThreadId() != active->thread_id_ || record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  // A wide print (DBG_PRINTEXCEPTION_WIDE_C) falls back to a narrow one when
  // nobody takes it, so only the narrow form is recorded.
  if (record->ExceptionCode == kPrintException) {
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    active->lines_.emplace_back(text);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace vireo::test
