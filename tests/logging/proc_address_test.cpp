#include "logging/proc_address.h"

#include <gtest/gtest.h>

namespace vireo {
namespace {

TEST(GetProcAddressLogged, FindsRefusesAndReportsMissingEntries) {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  FARPROC place = reinterpret_cast<FARPROC>(1);
  EXPECT_FALSE(GetProcAddressLogged(nullptr, "Sleep", &place));
  EXPECT_FALSE(GetProcAddressLogged(kernel32, nullptr, &place));
  EXPECT_FALSE(GetProcAddressLogged(kernel32, "Sleep", nullptr));
  EXPECT_EQ(place, reinterpret_cast<FARPROC>(1));

  EXPECT_FALSE(GetProcAddressLogged(kernel32, "NoSuchEntryPoint", &place));
  EXPECT_EQ(place, nullptr);
  EXPECT_TRUE(GetProcAddressLogged(kernel32, "Sleep", &place));
  EXPECT_EQ(place, GetProcAddress(kernel32, "Sleep"));
}

}  // namespace
}  // namespace vireo
