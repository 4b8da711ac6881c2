#pragma once
// The error the release tools' shared parts throw, and the base of each tool's
// own error type: a message for the release engineer, printed by main() (see
// tool_main.h) before it exits with a failure status.

#include <stdexcept>
#include <string>

namespace vireo::tools {

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vireo::tools
