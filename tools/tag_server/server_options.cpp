#include "tools/tag_server/server_options.h"

#include <cstdlib>
#include <limits>

#include "tools/common/tool_main.h"

namespace vireo::tag_server {

const char kServeUsage[] =
    "serve  answers GET /NAME.exe?tag=TAG (and HEAD, and Range requests) with the\n"
    "       signed stub carrying TAG, the same bytes set writes; NAME may carry a\n"
    "       referral code (CorvaneUpdateSetup-ACS219.exe), which the download's\n"
    "       file name passes to the stub. Without tag= the stub is sent as it is.\n"
    "       SIGHUP, or a change of STUB.exe, loads the stub again; downloads in\n"
    "       progress finish with the one they started with. SIGTERM or SIGINT\n"
    "       stops accepting and exits once downloads in progress have finished;\n"
    "       a second one, or --drain-timeout, cuts them off. SIGUSR1 opens the\n"
    "       access log file again (after log rotation has renamed it).\n"
    "  --stub STUB.exe            the signed stub (required)\n"
    "  --listen ADDR:PORT         address to listen on (default 127.0.0.1:8080; port 0\n"
    "                             takes any free port and prints it)\n"
    "  --name NAME.exe            the file name served (default CorvaneUpdateSetup.exe)\n"
    "  --max-connections N        open connections in all (default 1024)\n"
    "  --max-connections-per-client N  from one address (default 64; 0: no limit)\n"
    "  --max-request-line BYTES   (default 131072, enough for any tag)\n"
    "  --max-header-bytes BYTES   header fields after the request line (default 16384)\n"
    "  --request-timeout SECONDS  to receive a request's header (default 10)\n"
    "  --idle-timeout SECONDS     without progress while sending (default 30)\n"
    "  --max-age SECONDS          Cache-Control max-age of downloads (default 300)\n"
    "  --plan-cache N             tagged stubs kept ready, by tag (default 256)\n"
    "  --drain-timeout SECONDS    for downloads in progress to finish when told to\n"
    "                             stop (default 30; 0: stop at once)\n"
    "  --access-log FILE          one line per request (default: standard output)\n"
    "  --copy-dir DIR             where the private copy of the loaded stub is kept,\n"
    "                             a file without a name (default $TMPDIR or /tmp;\n"
    "                             memory when none can be made there)\n"
    "  --metrics-listen ADDR:PORT also answer GET /metrics (Prometheus' text format)\n"
    "                             and /healthz (200 while a stub is loaded) there\n";

namespace {

using tools::UsageError;

uint64_t ParseCount(const std::string& option, const std::string& text, uint64_t low,
                    uint64_t high) {
  uint64_t value = 0;
  if (text.empty() || text.size() > 12) throw UsageError{option + " needs a number"};
  for (char c : text) {
    if (c < '0' || c > '9') throw UsageError{option + " needs a number, not '" + text + "'"};
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value < low || value > high) {
    throw UsageError{option + " must be between " + std::to_string(low) + " and " +
                     std::to_string(high)};
  }
  return value;
}

void ParseListen(const std::string& option, const std::string& text, std::string* address,
                 uint16_t* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    throw UsageError{option + " needs ADDR:PORT, e.g. 127.0.0.1:8080"};
  }
  *address = text.substr(0, colon);
  if (address->size() > 2 && address->front() == '[' && address->back() == ']') {
    *address = address->substr(1, address->size() - 2);
  }
  *port = static_cast<uint16_t>(ParseCount(option + "'s port", text.substr(colon + 1), 0, 65535));
}

}  // namespace

ServerOptions ParseServerOptions(const std::vector<std::string>& args) {
  ServerOptions options;
  constexpr uint64_t kMaxBytes = 16 * 1024 * 1024;
  constexpr uint64_t kMaxSeconds = 24 * 3600;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string option = args[i];
    std::string value;
    const size_t equals = option.find('=');
    if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = option.substr(equals + 1);
      option = option.substr(0, equals);
    } else if (option.rfind("--", 0) == 0) {
      if (i + 1 >= args.size()) throw UsageError{option + " needs a value"};
      value = args[++i];
    } else {
      throw UsageError{"serve takes options only, not '" + option + "'"};
    }
    if (option == "--stub") {
      options.stub = value;
    } else if (option == "--listen") {
      ParseListen(option, value, &options.address, &options.port);
    } else if (option == "--metrics-listen") {
      ParseListen(option, value, &options.metrics_address, &options.metrics_port);
    } else if (option == "--copy-dir") {
      options.copy_folder = value;
    } else if (option == "--name") {
      options.name = value;
    } else if (option == "--max-connections") {
      options.max_connections = ParseCount(option, value, 1, 1000000);
    } else if (option == "--max-connections-per-client") {
      options.max_connections_per_client = ParseCount(option, value, 0, 1000000);
    } else if (option == "--max-request-line") {
      options.max_request_line = ParseCount(option, value, 256, kMaxBytes);
    } else if (option == "--max-header-bytes") {
      options.max_header_bytes = ParseCount(option, value, 256, kMaxBytes);
    } else if (option == "--request-timeout") {
      options.request_timeout = static_cast<unsigned>(ParseCount(option, value, 1, kMaxSeconds));
    } else if (option == "--idle-timeout") {
      options.idle_timeout = static_cast<unsigned>(ParseCount(option, value, 1, kMaxSeconds));
    } else if (option == "--max-age") {
      options.max_age = static_cast<unsigned>(ParseCount(option, value, 0, 365 * kMaxSeconds));
    } else if (option == "--plan-cache") {
      options.plan_cache = ParseCount(option, value, 1, 1000000);
    } else if (option == "--drain-timeout") {
      options.drain_timeout = static_cast<unsigned>(ParseCount(option, value, 0, kMaxSeconds));
    } else if (option == "--access-log") {
      options.access_log = value;
    } else {
      throw UsageError{"serve: unknown option " + option};
    }
  }
  if (options.stub.empty()) throw UsageError{"serve needs --stub STUB.exe"};
  if (options.copy_folder.empty()) {
    const char* temporary = std::getenv("TMPDIR");
    options.copy_folder = temporary && *temporary ? temporary : "/tmp";
  }
  const size_t dot = options.name.rfind('.');
  if (options.name.empty() || dot == 0 ||
      options.name.find_first_of("/\\?#%\" ") != std::string::npos) {
    throw UsageError{"--name needs a plain file name such as CorvaneUpdateSetup.exe"};
  }
  return options;
}

}  // namespace vireo::tag_server
