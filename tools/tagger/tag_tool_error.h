#pragma once
// The one error type of corvane-tag: a message for the release engineer, printed
// by main() before it exits with a failure status. The file being worked on is
// never written once one has been thrown.

#include <string>

#include "tools/common/tool_error.h"

namespace vireo::tagger {

class TagToolError : public tools::ToolError {
 public:
  explicit TagToolError(const std::string& message) : tools::ToolError(message) {}
};

}  // namespace vireo::tagger
