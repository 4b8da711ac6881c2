#include "bench/wrk_output.h"

#include <sstream>
#include <stdexcept>

#include "bench/bench_statistics.h"

namespace vireo::bench {
namespace {

// "12.5ms" as 12.5 and "ms".
void SplitUnit(const std::string& figure, double* number, std::string* unit) {
  const size_t end = figure.find_first_not_of("+-.0123456789");
  *number = ParseNumber(figure.substr(0, end));
  *unit = end == std::string::npos ? "" : figure.substr(end);
}

double Milliseconds(const std::string& figure) {
  double number;
  std::string unit;
  SplitUnit(figure, &number, &unit);
  if (unit == "us") return number / 1000;
  if (unit == "ms") return number;
  if (unit == "s") return number * 1000;
  if (unit == "m") return number * 60000;
  throw std::invalid_argument("not a latency: '" + figure + "'");
}

double Megabytes(const std::string& figure) {
  double number;
  std::string unit;
  SplitUnit(figure, &number, &unit);
  if (unit == "GB") return number * 1073.741824;
  if (unit == "MB") return number * 1.048576;
  if (unit == "KB") return number * 0.001024;
  if (unit == "B") return number / 1e6;
  throw std::invalid_argument("not an amount of bytes: '" + figure + "'");
}

double SixDigits(double value) { return ParseNumber(Significant(value)); }

}  // namespace

WrkFigures ParseWrkOutput(const std::string& text) {
  WrkFigures figures;
  bool requests = false, transfer = false, p50 = false, p90 = false, p99 = false;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string name, figure;
    if (!(words >> name >> figure)) continue;
    if (name == "Requests/sec:") {
      figures.requests_per_second = ParseNumber(figure);
      requests = true;
    } else if (name == "Transfer/sec:") {
      figures.megabytes_per_second = SixDigits(Megabytes(figure));
      transfer = true;
    } else if (line[0] == ' ' && name == "50%") {
      figures.p50_ms = SixDigits(Milliseconds(figure));
      p50 = true;
    } else if (line[0] == ' ' && name == "90%") {
      figures.p90_ms = SixDigits(Milliseconds(figure));
      p90 = true;
    } else if (line[0] == ' ' && name == "99%") {
      figures.p99_ms = SixDigits(Milliseconds(figure));
      p99 = true;
    }
  }
  if (!requests || !transfer || !p50 || !p90 || !p99) {
    throw std::invalid_argument("not a wrk report with --latency");
  }
  return figures;
}

}  // namespace vireo::bench
