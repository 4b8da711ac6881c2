// corvane-bench-stats: the summary statistics of the benchmarks' runs, so that
// every benchmark script reports them alike.
//
//   corvane-bench-stats median [--decimals N] VALUE...
//   corvane-bench-stats summary [--decimals N] VALUE...
//   corvane-bench-stats ratio [--decimals N] NUMERATOR DENOMINATOR
//   corvane-bench-stats pack-report OPTIONS
//   corvane-bench-stats tag-report OPTIONS
//   corvane-bench-stats run-report|run-fastest|tag-server-report MEASUREMENTS
//
// median prints the median (the mean of the middle two for an even count);
// summary prints "count min median mean max" on one line; ratio prints the
// quotient; pack-report and tag-report print the packing and tagging
// benchmarks' Markdown reports from their raw times; run-report and
// tag-server-report print the whole-run and tagging server benchmarks'
// reports from their measurement files, and run-fastest the variant the
// whole-run report marks fastest. Numbers are printed with N decimals
// (default 1). Exit status: 0, 1 when a file cannot be read, 2 for a usage
// error or figures a report cannot use (with a message on stderr).

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/bench_report_arguments.h"
#include "bench/bench_statistics.h"
#include "bench/measurement_file.h"
#include "bench/run_report.h"
#include "bench/tag_server_report.h"

namespace {

constexpr char kUsage[] =
    "usage: corvane-bench-stats median [--decimals N] VALUE...\n"
    "       corvane-bench-stats summary [--decimals N] VALUE...\n"
    "       corvane-bench-stats ratio [--decimals N] NUMERATOR DENOMINATOR\n"
    "       corvane-bench-stats pack-report --mb M --files N --runs R --cores C --bytes B\n"
    "                           --same yes|no --one MS... --two MS...\n"
    "       corvane-bench-stats tag-report --stubs N --size BYTES --runs R\n"
    "                           --copies NS... --set-many NS... --set-each NS...\n"
    "       corvane-bench-stats run-report MEASUREMENTS\n"
    "       corvane-bench-stats run-fastest MEASUREMENTS\n"
    "       corvane-bench-stats tag-server-report MEASUREMENTS\n"
    "\n"
    "median: the middle value, or the mean of the middle two for an even count.\n"
    "summary: count, minimum, median, mean and maximum on one line.\n"
    "ratio: NUMERATOR / DENOMINATOR.\n"
    "pack-report, tag-report: the Markdown report of bench/pack_bench.sh or\n"
    "bench/tag_bench.sh; each time option is given once per run.\n"
    "run-report, tag-server-report: the Markdown report of bench/run_bench.sh or\n"
    "bench/tag_server_bench.sh from the measurement file it wrote (lines\n"
    "'SERIES KEY=VALUE'; files it names are found beside it).\n"
    "run-fastest: the variant whose decoding took the least processor time.\n"
    "Numbers are printed with N decimals (default 1).\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "corvane-bench-stats: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file) throw std::runtime_error("cannot read " + path);
  return text.str();
}

// The measurement file's commands: its path is the one argument.
int MeasurementCommand(const std::string& command, const std::vector<std::string>& rest) {
  if (rest.size() != 1) return Usage(command + " takes the measurement file");
  const std::string& path = rest[0];
  const vireo::bench::MeasurementFile measurements =
      vireo::bench::MeasurementFile::Parse(ReadFile(path));
  std::string out;
  if (command == "run-report") {
    out = vireo::bench::RunReport(measurements);
  } else if (command == "run-fastest") {
    out = vireo::bench::FastestVariant(measurements) + "\n";
  } else {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    out = vireo::bench::TagServerReport(measurements, [&](const std::string& name) {
      return ReadFile(name.empty() || name[0] == '/' ? name : folder + name);
    });
  }
  std::fputs(out.c_str(), stdout);
  return 0;
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
  if (command == "run-report" || command == "run-fastest" || command == "tag-server-report") {
    return MeasurementCommand(command, rest);
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
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "corvane-bench-stats: %s\n", error.what());
    return 1;
  }
}
