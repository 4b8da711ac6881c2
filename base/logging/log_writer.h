#pragma once
// The abstract writer through which the logging core hands a finished line to
// the debugger output, the log file or ETW.

#include <cstddef>

#include "base/heap.h"
#include "base/logging/log_types.h"

namespace vireo {

class LogWriter {
 public:
  // Writers live on the process heap; a new-expression yields null when the
  // heap is exhausted, and the stub links no throwing allocator.
  static void* operator new(size_t size) noexcept { return HeapAllocate(size); }
  static void operator delete(void* block) { HeapRelease(block); }

  LogWriter() = default;
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Releases the writer's system resources; each writer's destructor calls its
  // own. The logging core never calls it.
  virtual void Close() {}
  virtual ~LogWriter() = default;
  // Whether the writer takes records while logging is disabled.
  virtual bool WritesWhenDisabled() { return false; }
  // Whether the writer wants a record that the category table did not enable.
  virtual bool IsEnabledFor(LogCategory, LogLevel) { return false; }
  // Writes one record.
  virtual void Write(const LogRecord&) {}
};

}  // namespace vireo
