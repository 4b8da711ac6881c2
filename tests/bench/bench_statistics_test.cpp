// The benchmarks' summary statistics, and the program the scripts call.

#include "bench/bench_statistics.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vireo::bench {
namespace {

namespace fs = std::filesystem;

struct SummaryCase {
  std::vector<double> values;
  double min, median, mean, max;
};

TEST(BenchStatistics, Summaries) {
  const SummaryCase cases[] = {
      {{5}, 5, 5, 5, 5},
      {{3, 1, 2}, 1, 2, 2, 3},
      // An even count: the mean of the middle two, not the lower one.
      {{4, 1, 3, 2}, 1, 2.5, 2.5, 4},
      {{10, 20}, 10, 15, 15, 20},
      {{7, 7, 1, 100}, 1, 7, 28.75, 100},
      {{-2, 0.5, 2}, -2, 0.5, 0.5 / 3, 2},
  };
  for (const SummaryCase& c : cases) {
    const Summary s = Summarize(c.values);
    EXPECT_EQ(s.count, c.values.size());
    EXPECT_DOUBLE_EQ(s.min, c.min);
    EXPECT_DOUBLE_EQ(s.median, c.median);
    EXPECT_DOUBLE_EQ(s.mean, c.mean);
    EXPECT_DOUBLE_EQ(s.max, c.max);
  }
  EXPECT_THROW(Summarize({}), std::invalid_argument);
}

TEST(BenchStatistics, NumbersInAndOut) {
  EXPECT_EQ(Fixed(1234.5678, 1), "1234.6");
  EXPECT_EQ(Fixed(2.5, 0), "2");  // printf rounds half to even here
  EXPECT_EQ(Fixed(0.125, 2), "0.12");
  EXPECT_DOUBLE_EQ(ParseNumber("42"), 42);
  EXPECT_DOUBLE_EQ(ParseNumber("-0.25"), -0.25);
  EXPECT_DOUBLE_EQ(ParseNumber("1e3"), 1000);
  for (const char* bad : {"", "abc", "1,5", "12 ", " 12", "nan", "inf", "1e999", "0x10"}) {
    EXPECT_THROW(ParseNumber(bad), std::invalid_argument) << bad;
  }
  // What the reader sees is what the next figure is computed from.
  EXPECT_DOUBLE_EQ(Rounded(2901.75, 1), 2901.8);
  EXPECT_DOUBLE_EQ(Rounded(0.125, 2), 0.12);

  const struct {
    double value;
    const char* text;
  } significant[] = {
      {0.529, "0.529"},  // 529.00us in milliseconds
      {1782.41142784, "1782.41"},
      {12345.678, "12345.7"},
      {1180, "1180"},
      {1234567, "1234567"},  // whole numbers in full, not 1.23457e+06
      {0, "0"},
      {1.7, "1.7"},
  };
  for (const auto& c : significant) EXPECT_EQ(Significant(c.value), c.text) << c.value;

  const struct {
    const char* digits;
    const char* text;
  } commas[] = {
      {"0", "0"},
      {"999", "999"},
      {"1000", "1,000"},
      {"111104", "111,104"},
      {"1234567", "1,234,567"},
      {"175000000", "175,000,000"},
  };
  for (const auto& c : commas) EXPECT_EQ(WithCommas(c.digits), c.text);
  for (const char* bad : {"", "-5", "1.5", "1,000", "12 "}) {
    EXPECT_THROW(WithCommas(bad), std::invalid_argument) << bad;
  }
}

struct ProgramRun {
  int status;
  std::string out;
};

ProgramRun RunStats(const std::string& arguments) {
  const std::string command = std::string(CORVANE_BENCH_STATS) + " " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("popen failed");
  std::string out;
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(BenchStatsProgram, CommandsAndUsageErrors) {
  const struct {
    const char* arguments;
    int status;
    const char* out;
  } cases[] = {
      {"median 3 1 2", 0, "2.0\n"},
      {"median 1 2 3 4", 0, "2.5\n"},
      {"median --decimals 0 1000 1201", 0, "1100\n"},
      {"median --decimals 3 0.1234", 0, "0.123\n"},
      {"summary 4 1 3 2", 0, "4 1.0 2.5 2.5 4.0\n"},
      {"ratio --decimals 2 3 2", 0, "1.50\n"},
      {"median", 2, ""},
      {"median x", 2, ""},
      {"ratio 1", 2, ""},
      {"ratio 1 0", 2, ""},
      {"median --decimals", 2, ""},
      {"median --decimals 12 1", 2, ""},
      {"mode 1 2", 2, ""},
      {"", 2, ""},
      {"run-report", 2, ""},
      {"tag-server-report a b", 2, ""},
      {"run-fastest /nonexistent/measurements.txt", 1, ""},
  };
  for (const auto& c : cases) {
    const ProgramRun run = RunStats(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_EQ(run.out, c.out) << c.arguments;
  }
  const ProgramRun help = RunStats("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: corvane-bench-stats median"), std::string::npos);
}

// The measurement file's commands: the files it names are found beside it,
// wherever the program runs; a line it cannot read is a usage error.
TEST(BenchStatsProgram, MeasurementFiles) {
  std::string pattern = (fs::temp_directory_path() / "bench-stats-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  const auto write = [&](const char* name, const std::string& text) {
    std::ofstream(folder / name, std::ios::binary) << text;
  };
  write("wrk-static.txt",
        "  Latency Distribution\n     50%  1.00ms\n     90%  2.00ms\n     99%  3.00ms\n"
        "Requests/sec:    100.00\nTransfer/sec:    1.00MB\n");
  write("measurements.txt",
        "machine cores=2\n"
        "variant/O2 flags=-O2\nvariant/O3 flags=-O3\n"
        "payload-bench/O2 decode_cpu_ms=20\npayload-bench/O3 decode_cpu_ms=10\n"
        "run/s stub=1 MB\nrun/s mode=static\nrun/s clients=1\nrun/s wrk=wrk-static.txt\n"
        "run/s rss_kb=8000\nrun/s anon_kb=900\n"
        "run/t stub=1 MB\nrun/t mode=tagged\nrun/t clients=1\nrun/t wrk=wrk-static.txt\n"
        "run/t rss_kb=8100\nrun/t anon_kb=1000\n");
  write("broken.txt", "machine cores 2\n");
  const std::string measurements = (folder / "measurements.txt").string();

  EXPECT_EQ(RunStats("run-fastest " + measurements).out, "O3\n");
  const ProgramRun report = RunStats("tag-server-report " + measurements);
  EXPECT_EQ(report.status, 0);
  EXPECT_NE(report.out.find("| 1 MB | 1 | one tag | 100.0 | 100.0 | 1 | 1 | 1.000, 1.000 | "
                            "1 / 2 / 3 | 1 / 2 / 3 | 8000 (900) / 8100 (1000) |\n"),
            std::string::npos)
      << report.out;
  EXPECT_EQ(RunStats("run-report " + (folder / "broken.txt").string()).status, 2);
  fs::remove(folder / "wrk-static.txt");
  EXPECT_EQ(RunStats("tag-server-report " + measurements).status, 1);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace vireo::bench
