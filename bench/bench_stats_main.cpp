// corvane-bench-stats: the summary statistics of the benchmarks' runs, so that
// every benchmark script reports them alike.
//
//   corvane-bench-stats median [--decimals N] VALUE...
//   corvane-bench-stats summary [--decimals N] VALUE...
//   corvane-bench-stats ratio [--decimals N] NUMERATOR DENOMINATOR
//   corvane-bench-stats pack-report OPTIONS
//   corvane-bench-stats tag-report OPTIONS
//
// median prints the median (the mean of the middle two for an even count);
// summary prints "count min median mean max" on one line; ratio prints the
// quotient; pack-report and tag-report print the packing and tagging
// benchmarks' Markdown reports from their raw times. Numbers are printed with N decimals (default
// 1). Exit status: 0, 2 for a usage error (with a message on stderr).

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/bench_report_arguments.h"
#include "bench/bench_statistics.h"

namespace {

constexpr char kUsage[] =
    "usage: corvane-bench-stats median [--decimals N] VALUE...\n"
    "       corvane-bench-stats summary [--decimals N] VALUE...\n"
    "       corvane-bench-stats ratio [--decimals N] NUMERATOR DENOMINATOR\n"
    "       corvane-bench-stats pack-report --mb M --files N --runs R --cores C --bytes B\n"
    "                           --same yes|no --one MS... --two MS...\n"
    "       corvane-bench-stats tag-report --stubs N --size BYTES --runs R\n"
    "                           --copies NS... --set-many NS... --set-each NS...\n"
    "\n"
    "median: the middle value, or the mean of the middle two for an even count.\n"
    "summary: count, minimum, median, mean and maximum on one line.\n"
    "ratio: NUMERATOR / DENOMINATOR.\n"
    "pack-report, tag-report: the Markdown report of bench/pack_bench.sh or\n"
    "bench/tag_bench.sh; each time option is given once per run.\n"
    "Numbers are printed with N decimals (default 1).\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "corvane-bench-stats: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

int Run(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::vector<std::string> rest(argv + 2, argv + argc);
  if (command == "pack-report") {
    std::fputs(vireo::bench::PackReport(vireo::bench::ParsePackReportArguments(rest)).c_str(),
               stdout);
    return 0;
  }
  if (command == "tag-report") {
    std::fputs(vireo::bench::TagReport(vireo::bench::ParseTagReportArguments(rest)).c_str(),
               stdout);
    return 0;
  }
  int decimals = 1;
  std::vector<double> values;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--decimals") == 0) {
      if (i + 1 >= argc) return Usage("--decimals needs a number");
      const double n = vireo::bench::ParseNumber(argv[++i]);
      if (n < 0 || n > 9 || n != static_cast<int>(n)) return Usage("--decimals takes 0 to 9");
      decimals = static_cast<int>(n);
      continue;
    }
    values.push_back(vireo::bench::ParseNumber(argv[i]));
  }
  using vireo::bench::Fixed;
  if (command == "median" || command == "summary") {
    if (values.empty()) return Usage(command + " needs at least one value");
    const vireo::bench::Summary s = vireo::bench::Summarize(values);
    if (command == "median") {
      std::printf("%s\n", Fixed(s.median, decimals).c_str());
    } else {
      std::printf("%zu %s %s %s %s\n", s.count, Fixed(s.min, decimals).c_str(),
                  Fixed(s.median, decimals).c_str(), Fixed(s.mean, decimals).c_str(),
                  Fixed(s.max, decimals).c_str());
    }
    return 0;
  }
  if (command == "ratio") {
    if (values.size() != 2) return Usage("ratio takes two numbers");
    if (values[1] == 0) return Usage("ratio: the denominator is 0");
    std::printf("%s\n", Fixed(values[0] / values[1], decimals).c_str());
    return 0;
  }
  return Usage("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::invalid_argument& error) {
    return Usage(error.what());
  }
}
