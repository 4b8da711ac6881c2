#pragma once
// The one error type of the packer: a message for the release engineer, printed
// by main() before it exits with a failure status.

#include <string>

#include "tools/common/tool_error.h"

namespace vireo::packer {

class PackerError : public tools::ToolError {
 public:
  explicit PackerError(const std::string& message) : tools::ToolError(message) {}
};

}  // namespace vireo::packer
