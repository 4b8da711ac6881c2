#pragma once
// The abstract writer through which the logging core hands a finished line to
// the debugger output, the log file or ETW.

#include <cstddef>

#include "base/heap.h"
#include "logging/log_types.h"

namespace vireo {

// Writers live on the process heap (ProcessHeapObject).
class LogWriter : public ProcessHeapObject {
 public:
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
