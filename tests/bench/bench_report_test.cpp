// The packing and tagging reports, against the text the benchmark scripts
// printed with their own arithmetic for the same times, and the report
// commands' mistakes.

#include "bench/bench_report.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_report_arguments.h"

namespace vireo::bench {
namespace {

TEST(BenchReport, PackingReport) {
  PackMeasurements pack;
  pack.megabytes = "12";
  pack.files = "5";
  pack.runs = "3";
  pack.cores = "2";
  // Medians 1251 and 675 ms: the speed-up comes from the whole milliseconds,
  // the times from their rounding to tenths of seconds.
  pack.one_thread_ms = {1234, 1300, 1251};
  pack.two_threads_ms = {700, 650};
  pack.same_bytes = true;
  pack.payload_bytes = "987654";
  EXPECT_EQ(PackReport(pack),
            "## Packing 12 MB in 5 files (3 run(s) each, median; 2 cores)\n"
            "\n"
            "| Encoder threads | Time | Speed-up |\n"
            "|---|---|---|\n"
            "| 1 | 1.3 s | 1.00x |\n"
            "| 2 (match finder beside the encoder) | 0.7 s | 1.85x |\n"
            "\n"
            "Same payload bytes with 1 and 2 threads: yes (987654 bytes)\n");
  pack.same_bytes = false;
  EXPECT_NE(PackReport(pack).find("threads: NO (987654 bytes)\n"), std::string::npos);
  pack.two_threads_ms = {0.4};
  EXPECT_THROW(PackReport(pack), std::invalid_argument);
  pack.two_threads_ms = {};
  EXPECT_THROW(PackReport(pack), std::invalid_argument);
}

TEST(BenchReport, TaggingReport) {
  TagMeasurements tag;
  tag.stubs = "4";
  tag.stub_bytes = "183500800";
  tag.runs = "3";
  tag.copies_ns = {812345678, 799999999, 1500000000};
  tag.set_many_ns = {123456789, 130000000, 120500000};
  tag.set_each_ns = {2345678901, 2400000000, 2300000000};
  EXPECT_EQ(TagReport(tag),
            "### Tagging: 4 stubs from one signed stub of 183500800 bytes (median of 3 runs)\n"
            "\n"
            "| Measure | Time | Files per second | MB/s written |\n"
            "|---|---|---|---|\n"
            "| plain copy (dd, synced), the disk's write speed | 0.81 s | 4.93 | 904 |\n"
            "| corvane-tag set-many | 0.12 s | 32.52 | 5968 |\n"
            "| corvane-tag set, once per stub | 2.35 s | 1.71 | 313 |\n");
  tag.stubs = "four";
  EXPECT_THROW(TagReport(tag), std::invalid_argument);
}

TEST(BenchReport, ArgumentsAndTheirMistakes) {
  const PackMeasurements pack = ParsePackReportArguments(
      {"--mb", "12", "--one", "3", "--files", "5", "--runs", "2", "--cores", "2", "--bytes", "9",
       "--same", "no", "--two", "1", "--one", "4"});
  EXPECT_EQ(pack.megabytes, "12");
  EXPECT_EQ(pack.one_thread_ms, (std::vector<double>{3, 4}));
  EXPECT_EQ(pack.two_threads_ms, (std::vector<double>{1}));
  EXPECT_FALSE(pack.same_bytes);
  const TagMeasurements tag =
      ParseTagReportArguments({"--stubs", "2", "--size", "10", "--runs", "1", "--copies", "5",
                               "--set-many", "6", "--set-each", "7", "--set-each", "8"});
  EXPECT_EQ(tag.set_each_ns, (std::vector<double>{7, 8}));

  const std::vector<std::string> complete = {"--stubs",    "2", "--size",     "10",
                                             "--runs",     "1", "--copies",   "5",
                                             "--set-many", "6", "--set-each", "7"};
  const struct {
    std::vector<std::string> extra_or_replacement;
    bool replace;
    const char* message;
  } mistakes[] = {
      {{"--stub", "2"}, false, "unknown option '--stub'"},
      {{"--set-each"}, false, "--set-each needs a value"},
      {{"--copies", "5s"}, false, "not a number: '5s'"},
      {{"--runs", "3"}, false, "--runs is given twice"},
      {{"--stubs", "2", "--size", "10", "--runs", "1", "--copies", "5", "--set-many", "6"},
       true,
       "--set-each is missing"},
  };
  for (const auto& m : mistakes) {
    SCOPED_TRACE(m.message);
    std::vector<std::string> args = m.replace ? m.extra_or_replacement : complete;
    if (!m.replace)
      args.insert(args.end(), m.extra_or_replacement.begin(), m.extra_or_replacement.end());
    try {
      ParseTagReportArguments(args);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_EQ(std::string(error.what()), m.message);
    }
  }
  EXPECT_THROW(
      ParsePackReportArguments({"--mb", "1", "--files", "1", "--runs", "1", "--cores", "1",
                                "--bytes", "1", "--same", "maybe", "--one", "1", "--two", "1"}),
      std::invalid_argument);
}

}  // namespace
}  // namespace vireo::bench
