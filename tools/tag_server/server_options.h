#pragma once
// How `corvane-tag serve` is started: the stub, the address, and the limits
// that keep hostile clients from exhausting the server, with safe defaults.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vireo::tag_server {

struct ServerOptions {
  std::string stub;                       // --stub: the signed stub to stamp
  std::string address = "127.0.0.1";      // --listen ADDR:PORT
  uint16_t port = 8080;                   //   (port 0: any free port, printed at start)
  std::string name = "CorvaneUpdateSetup.exe";  // --name: the file name downloads get
  size_t max_connections = 1024;          // --max-connections, all clients together
  size_t max_connections_per_client = 64; // --max-connections-per-client (0: no limit)
  // --max-request-line: the longest tag the stub takes, every byte
  // percent-encoded, fits (32,453 x 3 bytes and the rest of the line).
  size_t max_request_line = 128 * 1024;
  size_t max_header_bytes = 16 * 1024;   // --max-header-bytes: the fields after the line
  unsigned request_timeout = 10;          // --request-timeout: seconds for a request's header
  unsigned idle_timeout = 30;             // --idle-timeout: seconds without progress sending
  unsigned max_age = 300;                 // --max-age: Cache-Control max-age, seconds
  size_t plan_cache = 256;                // --plan-cache: tagged stubs kept ready
  // --drain-timeout: seconds that downloads in progress get to finish after
  // SIGTERM or SIGINT (0: stop at once).
  unsigned drain_timeout = 30;
  std::string access_log;                 // --access-log FILE (default: standard output)
  // --copy-dir: where the private copy of the loaded stub is kept (an
  // unnamed file; in memory when none can be made there).
  std::string copy_folder;
  // --metrics-listen ADDR:PORT: /metrics and /healthz; none when empty.
  std::string metrics_address;
  uint16_t metrics_port = 0;
};

// Parses the arguments after "serve". Throws tools::UsageError naming the
// first mistake.
ServerOptions ParseServerOptions(const std::vector<std::string>& args);

// The options' part of `corvane-tag --help`.
extern const char kServeUsage[];

}  // namespace vireo::tag_server
