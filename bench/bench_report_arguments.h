#pragma once
// The command lines of corvane-bench-stats' report commands: each option
// names one measurement, and a list of times is one option given once per
// run, so that the scripts pass their arrays as they are.

#include <string>
#include <vector>

#include "bench/bench_report.h"

namespace vireo::bench {

// pack-report --mb M --files N --runs R --cores C --bytes B --same yes|no
//             --one MS [--one MS...] --two MS [--two MS...]
// `args` are those after the command's name. Throws std::invalid_argument for
// an unknown or missing option, a missing value, or a time that is not a
// number.
PackMeasurements ParsePackReportArguments(const std::vector<std::string>& args);

// tag-report --stubs N --size BYTES --runs R --copies NS [--copies NS...]
//            --set-many NS [...] --set-each NS [...]
// Throws std::invalid_argument as ParsePackReportArguments does.
TagMeasurements ParseTagReportArguments(const std::vector<std::string>& args);

}  // namespace vireo::bench
