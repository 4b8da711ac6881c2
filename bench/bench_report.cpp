#include "bench/bench_report.h"

#include <stdexcept>

#include "bench/bench_statistics.h"

namespace vireo::bench {
namespace {

double RoundedMedian(const std::vector<double>& values, int decimals) {
  const double median = Rounded(Summarize(values).median, decimals);
  if (median == 0) throw std::invalid_argument("a median of zero cannot divide");
  return median;
}

}  // namespace

std::string PackReport(const PackMeasurements& pack) {
  const double one = RoundedMedian(pack.one_thread_ms, 0);
  const double two = RoundedMedian(pack.two_threads_ms, 0);
  return "## Packing " + pack.megabytes + " MB in " + pack.files + " files (" + pack.runs +
         " run(s) each, median; " + pack.cores + " cores)\n\n" +
         "| Encoder threads | Time | Speed-up |\n|---|---|---|\n" + "| 1 | " +
         Fixed(one / 1000, 1) + " s | 1.00x |\n" + "| 2 (match finder beside the encoder) | " +
         Fixed(two / 1000, 1) + " s | " + Fixed(one / two, 2) + "x |\n" +
         "\nSame payload bytes with 1 and 2 threads: " + (pack.same_bytes ? "yes" : "NO") + " (" +
         pack.payload_bytes + " bytes)\n";
}

std::string TagReport(const TagMeasurements& tag) {
  const double stubs = ParseNumber(tag.stubs);
  const double stub_bytes = ParseNumber(tag.stub_bytes);
  const auto row = [&](const char* name, const std::vector<double>& nanoseconds) {
    std::vector<double> seconds;
    for (double ns : nanoseconds) seconds.push_back(Rounded(ns / 1e9, 3));
    const double s = RoundedMedian(seconds, 3);
    return std::string("| ") + name + " | " + Fixed(s, 2) + " s | " + Fixed(stubs / s, 2) + " | " +
           Fixed(stubs * stub_bytes / 1e6 / s, 0) + " |\n";
  };
  return "### Tagging: " + tag.stubs + " stubs from one signed stub of " + tag.stub_bytes +
         " bytes (median of " + tag.runs + " runs)\n\n" +
         "| Measure | Time | Files per second | MB/s written |\n|---|---|---|---|\n" +
         row("plain copy (dd, synced), the disk's write speed", tag.copies_ns) +
         row("corvane-tag set-many", tag.set_many_ns) +
         row("corvane-tag set, once per stub", tag.set_each_ns);
}

}  // namespace vireo::bench
