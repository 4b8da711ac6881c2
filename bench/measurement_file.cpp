#include "bench/measurement_file.h"

#include <algorithm>
#include <stdexcept>

#include "bench/bench_statistics.h"

namespace vireo::bench {

MeasurementFile MeasurementFile::Parse(const std::string& text) {
  MeasurementFile file;
  size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    const size_t space = line.find(' ');
    const size_t equals = line.find('=');
    if (space == 0 || space == std::string::npos || equals == std::string::npos ||
        equals <= space + 1 || line.find(' ', space + 1) < equals) {
      throw std::invalid_argument("line " + std::to_string(number) +
                                  " is not 'SERIES KEY=VALUE': '" + line + "'");
    }
    file.figures_.push_back({line.substr(0, space), line.substr(space + 1, equals - space - 1),
                             line.substr(equals + 1)});
  }
  return file;
}

bool MeasurementFile::Has(const std::string& series, const std::string& key) const {
  return std::any_of(figures_.begin(), figures_.end(), [&](const Figure& figure) {
    return figure.series == series && figure.key == key;
  });
}

const std::string& MeasurementFile::Text(const std::string& series, const std::string& key) const {
  for (auto figure = figures_.rbegin(); figure != figures_.rend(); ++figure) {
    if (figure->series == series && figure->key == key) return figure->value;
  }
  throw std::invalid_argument("no " + series + " " + key + " measured");
}

std::vector<double> MeasurementFile::Numbers(const std::string& series,
                                             const std::string& key) const {
  std::vector<double> numbers;
  for (const Figure& figure : figures_) {
    if (figure.series == series && figure.key == key) numbers.push_back(ParseNumber(figure.value));
  }
  if (numbers.empty()) throw std::invalid_argument("no " + series + " " + key + " measured");
  return numbers;
}

std::vector<std::string> MeasurementFile::SeriesNamed(const std::string& prefix) const {
  std::vector<std::string> names;
  for (const Figure& figure : figures_) {
    if (figure.series.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string name = figure.series.substr(prefix.size());
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

}  // namespace vireo::bench
