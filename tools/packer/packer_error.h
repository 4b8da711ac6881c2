#pragma once
// The one error type of the packer: a message for the release engineer, printed
// by main() before it exits with a failure status.

#include <stdexcept>
#include <string>

namespace vireo::packer {

class PackerError : public std::runtime_error {
 public:
  explicit PackerError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vireo::packer
