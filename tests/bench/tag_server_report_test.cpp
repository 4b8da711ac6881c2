// The tagging server benchmark's report, against the text
// bench/tag_server_bench.sh printed with its own arithmetic for the same wrk
// outputs and figures, and the reading of wrk's output.

#include "bench/tag_server_report.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "bench/measurement_file.h"
#include "bench/wrk_output.h"

namespace vireo::bench {
namespace {

// wrk's report with --latency, as one run printed it.
const char kWrkOutput[] =
    "Running 15s test @ http://127.0.0.1:35339/CorvaneUpdateSetup.exe\n"
    "  2 threads and 16 connections\n"
    "  Thread Stats   Avg      Stdev     Max   +/- Stdev\n"
    "    Latency     1.34s   845.08ms   4.22s    73.58%\n"
    "    Req/Sec     6.00      4.38    27.00     83.33%\n"
    "  Latency Distribution\n"
    "     50%    1.11s \n"
    "     75%    1.82s \n"
    "     90%    2.38s \n"
    "     99%    4.13s \n"
    "  151 requests in 15.13s, 25.06GB read\n"
    "Requests/sec:      9.98\n"
    "Transfer/sec:      1.66GB\n";

// A wrk report of these figures.
std::string Wrk(const std::string& requests, const std::string& transfer, const std::string& p50,
                const std::string& p90, const std::string& p99) {
  std::string text =
      "Running 1s test @ http://127.0.0.1:1/CorvaneUpdateSetup.exe\n"
      "  1 threads and 1 connections\n"
      "  Thread Stats   Avg      Stdev     Max   +/- Stdev\n"
      "    Latency     1.00ms    0.20ms   3.00ms   90.00%\n"
      "    Req/Sec   800.00     50.00   900.00     80.00%\n"
      "  Latency Distribution\n";
  text += "     50%  " + p50 + "\n";
  text += "     75%  " + p50 + "\n";
  text += "     90%  " + p90 + "\n";
  text += "     99%  " + p99 + "\n";
  text += "  800 requests in 1.00s, 800.00MB read\n";
  text += "Requests/sec:    " + requests + "\n";
  text += "Transfer/sec:    " + transfer + "\n";
  return text;
}

TEST(WrkOutput, FiguresInFixedUnits) {
  const WrkFigures real = ParseWrkOutput(kWrkOutput);
  EXPECT_DOUBLE_EQ(real.requests_per_second, 9.98);
  EXPECT_DOUBLE_EQ(real.megabytes_per_second, 1782.41);  // 1.66 GiB, to six digits
  EXPECT_DOUBLE_EQ(real.p50_ms, 1110);
  EXPECT_DOUBLE_EQ(real.p90_ms, 2380);
  EXPECT_DOUBLE_EQ(real.p99_ms, 4130);

  const struct {
    const char* transfer;
    const char* latency;
    double megabytes;
    double ms;
  } units[] = {
      {"900.00B", "529.00us", 0.0009, 0.529},
      {"512.00KB", "22.73ms", 0.524288, 22.73},
      {"870.42MB", "2.64s", 912.702, 2640},
      {"0.91GB", "1.50m", 977.105, 90000},
  };
  for (const auto& u : units) {
    SCOPED_TRACE(u.transfer);
    const WrkFigures figures = ParseWrkOutput(Wrk("1.00", u.transfer, u.latency, "1ms", "1ms"));
    EXPECT_DOUBLE_EQ(figures.megabytes_per_second, u.megabytes);
    EXPECT_DOUBLE_EQ(figures.p50_ms, u.ms);
  }

  const std::string refused[] = {
      Wrk("1.00", "5.00TB", "1ms", "1ms", "1ms"),
      Wrk("1.00", "5.00MB", "1ms", "1.2h", "1ms"),
      Wrk("1.00", "5.00MB", "1ms", "1ms", "ms"),
      Wrk("n/a", "5.00MB", "1ms", "1ms", "1ms"),
      // The percentiles only from the distribution's indented lines.
      "Requests/sec:    1.00\nTransfer/sec:    1.00MB\n50%  1ms\n90%  1ms\n99%  1ms\n",
      "unable to connect to 127.0.0.1:1 Connection refused\n",
  };
  for (const std::string& text : refused) {
    EXPECT_THROW(ParseWrkOutput(text), std::invalid_argument) << text;
  }
}

const char kMeasurements[] = R"run(machine cores=2
run/1MB-static-1 stub=1 MB
run/1MB-static-1 mode=static
run/1MB-static-1 clients=1
run/1MB-static-1 wrk=wrk-1 MB-static-1.txt
run/1MB-static-1 rss_kb=8268
run/1MB-static-1 anon_kb=944
run/1MB-tagged-1 stub=1 MB
run/1MB-tagged-1 mode=tagged
run/1MB-tagged-1 clients=1
run/1MB-tagged-1 wrk=wrk-1 MB-tagged-1.txt
run/1MB-tagged-1 rss_kb=8268
run/1MB-tagged-1 anon_kb=944
run/1MB-fresh-1 stub=1 MB
run/1MB-fresh-1 mode=fresh
run/1MB-fresh-1 clients=1
run/1MB-fresh-1 wrk=wrk-1 MB-fresh-1.txt
run/1MB-fresh-1 rss_kb=9256
run/1MB-fresh-1 anon_kb=1932
run/1MB-static-4 stub=1 MB
run/1MB-static-4 mode=static
run/1MB-static-4 clients=4
run/1MB-static-4 wrk=wrk-1 MB-static-4.txt
run/1MB-static-4 rss_kb=9284
run/1MB-static-4 anon_kb=1960
run/1MB-tagged-4 stub=1 MB
run/1MB-tagged-4 mode=tagged
run/1MB-tagged-4 clients=4
run/1MB-tagged-4 wrk=wrk-1 MB-tagged-4.txt
run/1MB-tagged-4 rss_kb=9296
run/1MB-tagged-4 anon_kb=2000
run/1MB-fresh-4 stub=1 MB
run/1MB-fresh-4 mode=fresh
run/1MB-fresh-4 clients=4
run/1MB-fresh-4 wrk=wrk-1 MB-fresh-4.txt
run/1MB-fresh-4 rss_kb=9324
run/1MB-fresh-4 anon_kb=2010
run/20MB-static-1 stub=20 MB
run/20MB-static-1 mode=static
run/20MB-static-1 clients=1
run/20MB-static-1 wrk=wrk-20 MB-static-1.txt
run/20MB-static-1 rss_kb=8268
run/20MB-static-1 anon_kb=952
run/20MB-tagged-1 stub=20 MB
run/20MB-tagged-1 mode=tagged
run/20MB-tagged-1 clients=1
run/20MB-tagged-1 wrk=wrk-20 MB-tagged-1.txt
run/20MB-tagged-1 rss_kb=8268
run/20MB-tagged-1 anon_kb=952
run/20MB-fresh-1 stub=20 MB
run/20MB-fresh-1 mode=fresh
run/20MB-fresh-1 clients=1
run/20MB-fresh-1 wrk=wrk-20 MB-fresh-1.txt
run/20MB-fresh-1 rss_kb=8396
run/20MB-fresh-1 anon_kb=1084
stub/1MB stub=1 MB
stub/1MB bytes=1001920
stub/1MB peak_after_load_kb=8268
stub/1MB peak_after_all_kb=9544
stub/20MB stub=20 MB
stub/20MB bytes=20001728
stub/20MB peak_after_load_kb=8268
stub/20MB peak_after_all_kb=9444
)run";

// One stub at one and four clients, one at one client only; a static run
// that served nothing divides by nothing.
const std::map<std::string, std::string> kWrkFiles = {
    {"wrk-1 MB-static-1.txt", Wrk("868.10", "870.42MB", "1.11ms", "1.25ms", "3.84ms")},
    {"wrk-1 MB-tagged-1.txt", Wrk("871.40", "874.01MB", "1.09ms", "1.25ms", "5.06ms")},
    {"wrk-1 MB-fresh-1.txt", Wrk("520.00", "522.33MB", "1.70ms", "3.22ms", "7.55ms")},
    {"wrk-1 MB-static-4.txt", Wrk("936.25", "0.91GB", "529.00us", "620.00us", "990.00us")},
    {"wrk-1 MB-tagged-4.txt", Wrk("0.00", "0.00B", "0.00us", "0.00us", "0.00us")},
    {"wrk-1 MB-fresh-4.txt", Wrk("694.00", "512.00KB", "22.73ms", "27.63ms", "37.86ms")},
    {"wrk-20 MB-static-1.txt", Wrk("0.00", "0.00B", "1.11s", "2.38s", "1.50m")},
    {"wrk-20 MB-tagged-1.txt", Wrk("26.40", "529.13MB", "37.12ms", "61.78ms", "121.75ms")},
    {"wrk-20 MB-fresh-1.txt", Wrk("17.50", "350.00MB", "980.09ms", "2.64s", "4.35s")},
};

std::string ReadWrkFile(const std::string& name) {
  const auto file = kWrkFiles.find(name);
  if (file == kWrkFiles.end()) throw std::runtime_error("no file " + name);
  return file->second;
}

const char kReport[] =
    R"md(### corvane-tag serve: tagged downloads against the static ceiling (loopback, 2 cores)

"One tag": every download with the same tag; "a tag each": every download with a tag of its own, planned anew.

| Stub | Clients | Tags | Static req/s | Tagged req/s | Static MB/s | Tagged MB/s | Tagged/static (req/s, MB/s) | Static p50 / p90 / p99 ms | Tagged p50 / p90 / p99 ms | Server RSS static / tagged (anon) kB |
|---|---|---|---|---|---|---|---|---|---|---|
| 1 MB | 1 | one tag | 868.1 | 871.4 | 913 | 916 | 1.004, 1.004 | 1.11 / 1.25 / 3.84 | 1.09 / 1.25 / 5.06 | 8268 (944) / 8268 (944) |
| 1 MB | 1 | a tag each | 868.1 | 520.0 | 913 | 548 | 0.599, 0.600 | 1.11 / 1.25 / 3.84 | 1.7 / 3.22 / 7.55 | 8268 (944) / 9256 (1932) |
| 1 MB | 4 | one tag | 936.2 | 0.0 | 977 | 0 | 0.000, 0.000 | 0.529 / 0.62 / 0.99 | 0 / 0 / 0 | 9284 (1960) / 9296 (2000) |
| 1 MB | 4 | a tag each | 936.2 | 694.0 | 977 | 1 | 0.741, 0.001 | 0.529 / 0.62 / 0.99 | 22.73 / 27.63 / 37.86 | 9284 (1960) / 9324 (2010) |
| 20 MB | 1 | one tag | 0.0 | 26.4 | 0 | 555 | 0.000, 0.000 | 1110 / 2380 / 90000 | 37.12 / 61.78 / 121.75 | 8268 (952) / 8268 (952) |
| 20 MB | 1 | a tag each | 0.0 | 17.5 | 0 | 367 | 0.000, 0.000 | 1110 / 2380 / 90000 | 980.09 / 2640 / 4350 | 8268 (952) / 8396 (1084) |

| Stub | Bytes | Server peak after load (VmHWM) | Server peak after all runs (VmHWM) | Anonymous memory per added connection (tagged, fewest to most clients) |
|---|---|---|---|---|
| 1 MB | 1001920 | 8268 kB | 9544 kB | 352.0 kB |
| 20 MB | 20001728 | 8268 kB | 9444 kB | - |
)md";

TEST(TagServerReport, TheWholeReport) {
  EXPECT_EQ(TagServerReport(MeasurementFile::Parse(kMeasurements), ReadWrkFile), kReport);
}

std::string Replaced(std::string text, const std::string& part, const std::string& by) {
  const size_t at = text.find(part);
  if (at == std::string::npos) throw std::logic_error("not in the text: " + part);
  return text.replace(at, part.size(), by);
}

TEST(TagServerReport, RunsItCannotUse) {
  const struct {
    std::string measurements;
    const char* message;
  } cases[] = {
      {Replaced(kMeasurements, "run/1MB-static-1 mode=static", "run/1MB-static-1 mode=cached"),
       "run/1MB-static-1: unknown mode 'cached'"},
      {Replaced(kMeasurements, "run/1MB-static-1 mode=static", "run/1MB-static-1 mode=tagged"),
       "run/1MB-static-1 has no static run before it"},
      {Replaced(kMeasurements, "run/1MB-tagged-1 rss_kb=8268\n", ""),
       "no run/1MB-tagged-1 rss_kb measured"},
      {Replaced(kMeasurements, "machine cores=2\n", ""), "no machine cores measured"},
      {Replaced(kMeasurements, "run/1MB-tagged-4 clients=4", "run/1MB-tagged-4 clients=four"),
       "not a number: 'four'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      TagServerReport(MeasurementFile::Parse(c.measurements), ReadWrkFile);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace vireo::bench
