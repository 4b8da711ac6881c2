#include "logging/last_error.h"

#include <gtest/gtest.h>

namespace vireo {
namespace {

TEST(HResultFromLastError, ConvertsEachKindOfCode) {
  struct Case {
    DWORD error;
    HRESULT expected;
  };
  const Case cases[] = {
      {0, static_cast<HRESULT>(0x80004005)},
      {ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005)},
      {ERROR_ALREADY_EXISTS, static_cast<HRESULT>(0x800700B7)},
      {0x12345, static_cast<HRESULT>(0x80072345)},
      {0x8007000E, static_cast<HRESULT>(0x8007000E)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    SetLastError(c.error);
    EXPECT_EQ(HResultFromLastError(), c.expected);
  }
}

}  // namespace
}  // namespace vireo
