#pragma once
// One line per request, in the common log format that log tools read, with
// the download's own fields after it:
//
//   127.0.0.1 - - [11/Dec/2026:10:00:00 +0000] "GET /CorvaneUpdateSetup.exe?tag=... HTTP/1.1" 206 1000 tag="appguid=..." range="bytes=0-999" time=0.0012
//
// Text from the request is escaped ('"', '\\' and bytes outside printable ASCII
// as \xHH) and cut to a bounded length, so a hostile request can neither
// forge a line nor make one unbounded.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace vireo::tag_server {

struct AccessRecord {
  std::string client;        // the peer's address
  std::time_t when = 0;      // when the request arrived
  std::string request_line;  // as received
  unsigned status = 0;
  uint64_t body_bytes = 0;   // body bytes sent
  std::string tag;           // empty when none was asked for
  std::string range;         // the Range header, empty when none
  double seconds = 0;        // from the request's arrival to its last byte sent
};

std::string FormatAccessLine(const AccessRecord& record);

// Where the lines go: standard output or a file opened for appending, each
// line written whole and flushed.
class AccessLog {
 public:
  // Standard output for "" or "-". Throws tools::ToolError when the file
  // cannot be opened.
  explicit AccessLog(const std::string& path);
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  void Write(const AccessRecord& record);
  // Opens the file by its path again, for log rotation: the file renamed
  // away keeps what was written, new lines go to a new file of the old name.
  // Returns an empty string when done (or when the log is standard output),
  // else why not; the file written before is then kept.
  std::string Reopen();

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

}  // namespace vireo::tag_server
