#pragma once
// The figures of wrk's report (run with --latency) in fixed units.

#include <string>

namespace vireo::bench {

struct WrkFigures {
  double requests_per_second = 0;
  // The figures below are kept to six significant digits: wrk prints fewer,
  // and the units' conversions add none worth showing.
  double megabytes_per_second = 0;  // millions of bytes
  double p50_ms = 0;
  double p90_ms = 0;
  double p99_ms = 0;
};

// Reads "Requests/sec:", "Transfer/sec:" (B, KB, MB or GB, of 1024) and the
// 50%, 90% and 99% lines of the latency distribution (us, ms, s or m).
// Throws std::invalid_argument when one is missing or in another unit.
WrkFigures ParseWrkOutput(const std::string& text);

}  // namespace vireo::bench
