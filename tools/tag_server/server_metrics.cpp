#include "tools/tag_server/server_metrics.h"

namespace vireo::tag_server {

namespace {

void Add(std::string& out, const char* name, const char* type, const char* help, uint64_t value) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
         name + " " + std::to_string(value) + "\n";
}

}  // namespace

std::string FormatMetrics(const ServerMetrics& metrics) {
  std::string out;
  out += "# HELP corvane_tag_responses_total Responses sent, by HTTP status.\n"
         "# TYPE corvane_tag_responses_total counter\n";
  for (const auto& [status, count] : metrics.responses) {
    out += "corvane_tag_responses_total{status=\"" + std::to_string(status) + "\"} " +
           std::to_string(count) + "\n";
  }
  Add(out, "corvane_tag_body_bytes_total", "counter", "Response body bytes sent.",
      metrics.body_bytes);
  Add(out, "corvane_tag_downloads_in_progress", "gauge", "Responses sending the stub now.",
      metrics.downloads_in_progress);
  Add(out, "corvane_tag_open_connections", "gauge", "Open client connections.",
      metrics.open_connections);
  Add(out, "corvane_tag_tags_planned_total", "counter",
      "Responses that needed a tagged stub's plan.", metrics.tags_planned);
  Add(out, "corvane_tag_plan_cache_hits_total", "counter",
      "Tagged stubs' plans found ready in the plan cache.", metrics.plan_cache_hits);
  Add(out, "corvane_tag_reloads_total", "counter", "Stubs loaded again.", metrics.reloads);
  Add(out, "corvane_tag_reloads_refused_total", "counter",
      "Stub files not taken on a reload; the stub loaded before kept serving.",
      metrics.reloads_refused);
  Add(out, "corvane_tag_stub_loaded", "gauge", "1 while a stub is loaded.",
      metrics.stub_loaded ? 1 : 0);
  return out;
}

}  // namespace vireo::tag_server
