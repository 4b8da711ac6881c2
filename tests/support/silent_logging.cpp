// Linked into Windows test programs whose code logs its failures but which do
// not test logging (the logging tests and the end-to-end tests do). Their
// logging stays silent, so that a test's first failure line does not start the
// logging system, whose start-up writes to the debugger output: each such
// write raises an exception, which the emulated 32-bit Wine of some build
// machines does not survive reliably.
#include <gtest/gtest.h>

#include "logging/log_interface.h"

namespace {

class SilentLogging : public testing::Environment {
 public:
  // After every static object, the logging system's included, was built.
  void SetUp() override { vireo::logging_alive = false; }
};

testing::Environment* const silent_logging =
    testing::AddGlobalTestEnvironment(new SilentLogging);

}  // namespace
