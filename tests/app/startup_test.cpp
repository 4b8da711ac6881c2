#include "app/startup.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace vireo {
namespace {

TEST(IsOSVersionAtLeast, ComparesMajorThenServicePack) {
  OSVERSIONINFOW running = {};
  running.dwOSVersionInfoSize = sizeof(running);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExW(&running));
#pragma GCC diagnostic pop
  EXPECT_TRUE(IsOSVersionAtLeast(5, 4));
  EXPECT_TRUE(IsOSVersionAtLeast(static_cast<WORD>(running.dwMajorVersion), 0));
  EXPECT_FALSE(IsOSVersionAtLeast(static_cast<WORD>(running.dwMajorVersion + 1), 0));
  EXPECT_FALSE(IsOSVersionAtLeast(99, 0));
}

}  // namespace
}  // namespace vireo
