#include "bench/bench_report_arguments.h"

#include <stdexcept>

#include "bench/bench_statistics.h"

namespace vireo::bench {
namespace {

// One option: a text given once, or a list of numbers given once per value.
struct Option {
  const char* name;
  std::string* text = nullptr;
  std::vector<double>* numbers = nullptr;
};

void Parse(const std::vector<std::string>& args, const std::vector<Option>& options) {
  std::vector<bool> given(options.size(), false);
  for (size_t i = 0; i < args.size(); ++i) {
    size_t which = 0;
    while (which < options.size() && args[i] != options[which].name) ++which;
    if (which == options.size()) throw std::invalid_argument("unknown option '" + args[i] + "'");
    if (i + 1 >= args.size()) throw std::invalid_argument(args[i] + " needs a value");
    const std::string& value = args[++i];
    const Option& option = options[which];
    if (option.numbers) {
      option.numbers->push_back(ParseNumber(value));
    } else {
      if (given[which]) throw std::invalid_argument(args[i - 1] + " is given twice");
      *option.text = value;
    }
    given[which] = true;
  }
  for (size_t which = 0; which < options.size(); ++which) {
    if (!given[which])
      throw std::invalid_argument(std::string(options[which].name) + " is missing");
  }
}

}  // namespace

PackMeasurements ParsePackReportArguments(const std::vector<std::string>& args) {
  PackMeasurements pack;
  std::string same;
  Parse(args, {{"--mb", &pack.megabytes},
               {"--files", &pack.files},
               {"--runs", &pack.runs},
               {"--cores", &pack.cores},
               {"--bytes", &pack.payload_bytes},
               {"--same", &same},
               {"--one", nullptr, &pack.one_thread_ms},
               {"--two", nullptr, &pack.two_threads_ms}});
  if (same != "yes" && same != "no") throw std::invalid_argument("--same takes yes or no");
  pack.same_bytes = same == "yes";
  return pack;
}

TagMeasurements ParseTagReportArguments(const std::vector<std::string>& args) {
  TagMeasurements tag;
  Parse(args, {{"--stubs", &tag.stubs},
               {"--size", &tag.stub_bytes},
               {"--runs", &tag.runs},
               {"--copies", nullptr, &tag.copies_ns},
               {"--set-many", nullptr, &tag.set_many_ns},
               {"--set-each", nullptr, &tag.set_each_ns}});
  return tag;
}

}  // namespace vireo::bench
