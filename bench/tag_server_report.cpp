#include "bench/tag_server_report.h"

#include <stdexcept>

#include "bench/bench_statistics.h"
#include "bench/wrk_output.h"

namespace vireo::bench {
namespace {

struct Run {
  std::string stub;
  std::string mode;
  std::string clients;
  WrkFigures wrk;
  std::string memory;  // "RSS (anonymous)", in kB
};

Run ReadRun(const MeasurementFile& runs, const std::string& series, const FileReader& read_file) {
  Run run;
  run.stub = runs.Text(series, "stub");
  run.mode = runs.Text(series, "mode");
  if (run.mode != "static" && run.mode != "tagged" && run.mode != "fresh") {
    throw std::invalid_argument(series + ": unknown mode '" + run.mode + "'");
  }
  run.clients = runs.Text(series, "clients");
  run.wrk = ParseWrkOutput(read_file(runs.Text(series, "wrk")));
  run.memory = runs.Text(series, "rss_kb") + " (" + runs.Text(series, "anon_kb") + ")";
  return run;
}

std::string Latencies(const WrkFigures& wrk) {
  return Significant(wrk.p50_ms) + " / " + Significant(wrk.p90_ms) + " / " +
         Significant(wrk.p99_ms);
}

// Tagged over static, 0 where nothing static came through.
std::string Share(double tagged, double ceiling) {
  return Fixed(ceiling > 0 ? tagged / ceiling : 0, 3);
}

// The anonymous memory one more connection costs: the tagged runs with the
// fewest and the most clients, the first of equals.
std::string PerConnection(const MeasurementFile& runs, const std::string& stub) {
  bool any = false;
  double fewest = 0, most = 0, fewest_kb = 0, most_kb = 0;
  for (const std::string& name : runs.SeriesNamed("run/")) {
    const std::string series = "run/" + name;
    if (runs.Text(series, "stub") != stub || runs.Text(series, "mode") != "tagged") continue;
    const double clients = ParseNumber(runs.Text(series, "clients"));
    const double kb = ParseNumber(runs.Text(series, "anon_kb"));
    if (!any || clients < fewest) {
      fewest = clients;
      fewest_kb = kb;
    }
    if (!any || clients > most) {
      most = clients;
      most_kb = kb;
    }
    any = true;
  }
  if (!(most > fewest)) return "-";
  return Fixed((most_kb - fewest_kb) / (most - fewest), 1) + " kB";
}

}  // namespace

std::string TagServerReport(const MeasurementFile& runs, const FileReader& read_file) {
  std::string text =
      "### corvane-tag serve: tagged downloads against the static ceiling (loopback, " +
      runs.Text("machine", "cores") +
      " cores)\n\n"
      "\"One tag\": every download with the same tag; \"a tag each\": every download with a tag "
      "of its own, planned anew.\n\n"
      "| Stub | Clients | Tags | Static req/s | Tagged req/s | Static MB/s | Tagged MB/s | "
      "Tagged/static (req/s, MB/s) | Static p50 / p90 / p99 ms | Tagged p50 / p90 / p99 ms | "
      "Server RSS static / tagged (anon) kB |\n"
      "|---|---|---|---|---|---|---|---|---|---|---|\n";
  bool have_static = false;
  Run ceiling;
  for (const std::string& name : runs.SeriesNamed("run/")) {
    const Run run = ReadRun(runs, "run/" + name, read_file);
    if (run.mode == "static") {
      ceiling = run;
      have_static = true;
      continue;
    }
    if (!have_static) throw std::invalid_argument("run/" + name + " has no static run before it");
    const WrkFigures& s = ceiling.wrk;
    const WrkFigures& t = run.wrk;
    text += "| " + run.stub + " | " + run.clients + " | " +
            (run.mode == "fresh" ? "a tag each" : "one tag") + " | " +
            Fixed(s.requests_per_second, 1) + " | " + Fixed(t.requests_per_second, 1) + " | " +
            Fixed(s.megabytes_per_second, 0) + " | " + Fixed(t.megabytes_per_second, 0) + " | " +
            Share(t.requests_per_second, s.requests_per_second) + ", " +
            Share(t.megabytes_per_second, s.megabytes_per_second) + " | " + Latencies(s) + " | " +
            Latencies(t) + " | " + ceiling.memory + " / " + run.memory + " |\n";
  }
  text +=
      "\n| Stub | Bytes | Server peak after load (VmHWM) | Server peak after all runs (VmHWM) | "
      "Anonymous memory per added connection (tagged, fewest to most clients) |\n"
      "|---|---|---|---|---|\n";
  for (const std::string& name : runs.SeriesNamed("stub/")) {
    const std::string series = "stub/" + name;
    const std::string& stub = runs.Text(series, "stub");
    text += "| " + stub + " | " + runs.Text(series, "bytes") + " | " +
            runs.Text(series, "peak_after_load_kb") + " kB | " +
            runs.Text(series, "peak_after_all_kb") + " kB | " + PerConnection(runs, stub) + " |\n";
  }
  return text;
}

}  // namespace vireo::bench
