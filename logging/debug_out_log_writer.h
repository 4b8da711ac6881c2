#pragma once
// The writer that sends every record it is handed to the debugger output, as
// the prefix directly followed by the message and a line feed.

#include "logging/log_writer.h"

namespace vireo {

class DebugOutLogWriter : public LogWriter {
 public:
  // One OutputDebugStringW call per record, never cut: a line too long for the
  // scratch formatter is joined on the heap instead.
  void Write(const LogRecord& record) override;
};

}  // namespace vireo
