// The benchmarks' summary statistics, and the program the scripts call.

#include "bench/bench_statistics.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace vireo::bench {
namespace {

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

}  // namespace
}  // namespace vireo::bench
