#pragma once
// The Markdown reports of the packing and tagging benchmarks, written from
// their raw measurements: the benchmark scripts time and count, and this is
// where medians become rows. Intermediate values are rounded as the reports
// print them (milliseconds to whole ones, seconds to thousandths), so each
// row follows from the numbers shown beside it.

#include <string>
#include <vector>

namespace vireo::bench {

// bench/pack_bench.sh: corvane-pack with one and with two encoder threads.
struct PackMeasurements {
  std::string megabytes;  // the payload's size and file count, as asked for
  std::string files;
  std::string runs;
  std::string cores;
  std::vector<double> one_thread_ms;  // one value per run
  std::vector<double> two_threads_ms;
  bool same_bytes = false;  // both payloads byte for byte the same
  std::string payload_bytes;
};

// The report, ending in a newline. Throws std::invalid_argument when a list
// of times is empty or a median rounds to zero milliseconds.
std::string PackReport(const PackMeasurements& pack);

// bench/tag_bench.sh: a plain copy, set-many and set per stub, each writing
// `stubs` files of `stub_bytes` bytes.
struct TagMeasurements {
  std::string stubs;       // a number, printed as given
  std::string stub_bytes;  // a number, printed as given
  std::string runs;
  std::vector<double> copies_ns;  // one value per run
  std::vector<double> set_many_ns;
  std::vector<double> set_each_ns;
};

// The report, ending in a newline. Throws std::invalid_argument when a list
// of times is empty, a median rounds to zero seconds, or `stubs` or
// `stub_bytes` is not a number.
std::string TagReport(const TagMeasurements& tag);

}  // namespace vireo::bench
