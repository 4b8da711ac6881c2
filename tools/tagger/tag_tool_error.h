#pragma once
// The one error type of corvane-tag: a message for the release engineer, printed
// by main() before it exits with a failure status. The file being worked on is
// never written once one has been thrown.

#include <stdexcept>
#include <string>

namespace vireo::tagger {

class TagToolError : public std::runtime_error {
 public:
  explicit TagToolError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vireo::tagger
