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

// `value` as Fixed prints it, read back: what the reader of a report sees,
// and what the next figure is computed from.
double Rounded(double value, int decimals);

// `value` with at most six significant digits and no trailing zeros, as %g
// writes it, but a whole number in full (1180, not 1.18e+03).
std::string Significant(double value);

// A whole number written in decimal digits, with commas between groups of
// three (175,000,000). Throws std::invalid_argument for anything but digits.
std::string WithCommas(const std::string& digits);

// Reads a number written in decimal (an optional sign, digits, an optional
// fraction, an optional exponent). Throws std::invalid_argument for anything
// else, `text` named in the message.
double ParseNumber(const std::string& text);

}  // namespace vireo::bench
