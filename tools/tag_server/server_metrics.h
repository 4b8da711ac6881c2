#pragma once
// What the server counts for its operators, and the counts in Prometheus'
// text exposition format (version 0.0.4), as /metrics answers them.

#include <cstdint>
#include <map>
#include <string>

namespace vireo::tag_server {

struct ServerMetrics {
  std::map<unsigned, uint64_t> responses;  // by status, each counted when it has ended
  uint64_t body_bytes = 0;                 // body bytes sent, all responses
  uint64_t downloads_in_progress = 0;      // responses sending (part of) the stub now
  uint64_t open_connections = 0;           // on the download listener, now
  uint64_t tags_planned = 0;               // responses that needed a tag's stub
  uint64_t plan_cache_hits = 0;            // of those, found ready in the plan cache
  uint64_t reloads = 0;                    // stubs loaded again
  uint64_t reloads_refused = 0;            // files not taken, the stub before kept
  bool stub_loaded = false;
};

std::string FormatMetrics(const ServerMetrics& metrics);

}  // namespace vireo::tag_server
