#pragma once
// The summary statistics every benchmark reports, defined once: the median
// (the middle value, or the mean of the middle two for an even count), the
// extremes, the mean, and ratios, with the number formatting of the reports.

#include <string>
#include <vector>

namespace vireo::bench {

struct Summary {
  size_t count = 0;
  double min = 0;
  double median = 0;
  double mean = 0;
  double max = 0;
};

// The summary of `values`. Throws std::invalid_argument when there are none.
Summary Summarize(std::vector<double> values);

// `value` with `decimals` digits after the point, rounded half away from zero
// as printf rounds.
std::string Fixed(double value, int decimals);

// Reads a number written in decimal (an optional sign, digits, an optional
// fraction, an optional exponent). Throws std::invalid_argument for anything
// else, `text` named in the message.
double ParseNumber(const std::string& text);

}  // namespace vireo::bench
