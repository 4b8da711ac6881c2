#include "bench/bench_statistics.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace vireo::bench {

Summary Summarize(std::vector<double> values) {
  if (values.empty()) throw std::invalid_argument("no values to summarise");
  std::sort(values.begin(), values.end());
  Summary summary;
  summary.count = values.size();
  summary.min = values.front();
  summary.max = values.back();
  const size_t middle = values.size() / 2;
  summary.median =
      values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
  double sum = 0;
  for (double value : values) sum += value;
  summary.mean = sum / static_cast<double>(values.size());
  return summary;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

double Rounded(double value, int decimals) { return ParseNumber(Fixed(value, decimals)); }

std::string Significant(double value) {
  char text[64];
  if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    std::snprintf(text, sizeof(text), "%.0f", value);
  } else {
    std::snprintf(text, sizeof(text), "%.6g", value);
  }
  return text;
}

std::string WithCommas(const std::string& digits) {
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
    throw std::invalid_argument("not a whole number: '" + digits + "'");
  }
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

double ParseNumber(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(start, &end);
  const bool plain = !text.empty() && text.find_first_not_of("+-.0123456789eE") == std::string::npos;
  if (!plain || end != start + text.size() || errno == ERANGE || !std::isfinite(value)) {
    throw std::invalid_argument("not a number: '" + text + "'");
  }
  return value;
}

}  // namespace vireo::bench
