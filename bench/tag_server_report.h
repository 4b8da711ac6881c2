#pragma once
// The tagging server benchmark's Markdown report (bench/tag_server_bench.sh),
// written from its measurement file (bench/measurement_file.h):
//
//   machine        once: cores
//   run/NAME       one series a wrk measurement, in the order they ran: stub
//                  (its label, as "1 MB"), mode (static, tagged with one tag,
//                  or fresh: a tag each), clients, wrk (the file of wrk's
//                  report), rss_kb and anon_kb (the server's, in the middle of it)
//   stub/NAME      one series a stub: stub (the label), bytes,
//                  peak_after_load_kb, peak_after_all_kb
//
// Each tagged or fresh run is a row beside the static run before it.

#include <functional>
#include <string>

#include "bench/measurement_file.h"

namespace vireo::bench {

// The text of a file a measurement names.
using FileReader = std::function<std::string(const std::string& name)>;

// The report, ending in a newline. Throws std::invalid_argument when a figure
// is missing or not a number, a mode is unknown, a tagged run has no static
// run before it, or a wrk report is not one (bench/wrk_output.h).
std::string TagServerReport(const MeasurementFile& runs, const FileReader& read_file);

}  // namespace vireo::bench
