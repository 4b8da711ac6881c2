// Before any test runs, the process-wide Logging object configures its writers
// under the prefix's plain settings. A test that later writes the ini file at
// the system drive's root (with LogToFile=1, say) then cannot make this
// process open the shared log file and keep it from being removed.
#include <windows.h>

#include <gtest/gtest.h>

#include "logging/log_interface.h"

namespace {

class ProcessLoggingEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(GetFileAttributesW(L"C:\\CorvaneUpdate.ini"), INVALID_FILE_ATTRIBUTES)
        << "C:\\CorvaneUpdate.ini is left from an earlier run; remove it";
    ASSERT_TRUE(vireo::logging_alive);
    vireo::g_logging.GetWriterMask(vireo::LC_CORE, 2);
    ASSERT_TRUE(vireo::g_logging.initialized());
    ASSERT_EQ(vireo::g_logging.file_writer(), nullptr);
  }
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new ProcessLoggingEnvironment);

}  // namespace
