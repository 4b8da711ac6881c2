#pragma once
// The raw measurements of a benchmark run as its script records them, one
// figure a line:
//
//   SERIES KEY=VALUE
//
// SERIES names what was measured: a program, or a program of one build
// (`payload-bench/O2`); KEY is one figure of it. A figure taken once per run
// stands once per run, in the order of the runs. The programs the scripts
// time print key=value lines, so a script records their output by putting
// the series' name in front; another set of builds is another set of series.

#include <string>
#include <vector>

namespace vireo::bench {

class MeasurementFile {
 public:
  // Blank lines are skipped. Throws std::invalid_argument, naming the line by
  // its number, for a line without a series, a key or its '='.
  static MeasurementFile Parse(const std::string& text);

  bool Has(const std::string& series, const std::string& key) const;

  // The last value of `key` in `series`. Throws std::invalid_argument when
  // there is none.
  const std::string& Text(const std::string& series, const std::string& key) const;

  // Every value of `key` in `series`, in order. Throws std::invalid_argument
  // when there is none or one is not a number.
  std::vector<double> Numbers(const std::string& series, const std::string& key) const;

  // The names of the series that begin with `prefix`, less the prefix, in
  // the order of their first lines.
  std::vector<std::string> SeriesNamed(const std::string& prefix) const;

 private:
  struct Figure {
    std::string series;
    std::string key;
    std::string value;
  };
  std::vector<Figure> figures_;
};

}  // namespace vireo::bench
