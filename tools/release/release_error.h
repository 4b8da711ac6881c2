#pragma once
// The error of corvane-release: a failed step or an option naming something
// unusable, printed by main() before it exits with a failure status. The
// output file is never written once one has been thrown.

#include <string>

#include "tools/common/tool_error.h"

namespace vireo::release {

class ReleaseError : public tools::ToolError {
 public:
  explicit ReleaseError(const std::string& message) : tools::ToolError(message) {}
};

}  // namespace vireo::release
