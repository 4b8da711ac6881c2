#pragma once
// The owner of one writer that the logging core made on the process heap.

#include "logging/log_writer.h"

namespace vireo {

class UniqueWriter {
 public:
  UniqueWriter() = default;
  ~UniqueWriter() { reset(); }
  UniqueWriter(const UniqueWriter&) = delete;
  UniqueWriter& operator=(const UniqueWriter&) = delete;

  LogWriter* get() const { return writer_; }
  explicit operator bool() const { return writer_ != nullptr; }

  // Deletes the writer held (if any) and takes `writer`. The old writer is let
  // go before its deletion, so a fault in its destructor cannot make it run
  // a second time.
  void reset(LogWriter* writer = nullptr) {
    LogWriter* old = writer_;
    writer_ = writer;
    delete old;
  }

  // Lets go of the writer without deleting it.
  LogWriter* release() {
    LogWriter* writer = writer_;
    writer_ = nullptr;
    return writer;
  }

 private:
  LogWriter* writer_ = nullptr;
};

}  // namespace vireo
