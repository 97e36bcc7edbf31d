// The local clock: the seam first, then ZEMLIK_CLOCK when well formed, then the host's.
#include "platform/time.h"

#include <gtest/gtest.h>
#include <time.h>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

TEST(LocalTime, TheSeamThenTheEnvironmentThenTheHost) {
  ScopedEnv clock({{"ZEMLIK_CLOCK", "2024-02-29 23:59:58"}});
  SYSTEMTIME t{};
  {
    FixedClock fixed({2008, 12, 0, 21, 3, 3, 17, 999});
    GetLocalTime(&t);
    EXPECT_EQ(t.wMilliseconds, 999);
  }
  GetLocalTime(&t);
  EXPECT_TRUE(t.wYear == 2024 && t.wMonth == 2 && t.wDay == 29 && t.wHour == 23 &&
              t.wMinute == 59 && t.wSecond == 58 && t.wMilliseconds == 0 && t.wDayOfWeek == 4);
  for (const char* bad : {"2023-02-29 00:00:00", "2008-13-01 00:00:00", "2008-12-21 24:00:00",
                          "2008-12-21 9:05:03", "2008-12-21 09:05:03x", "2008/12/21 09:05:03"}) {
    ScopedEnv malformed({{"ZEMLIK_CLOCK", bad}});
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    GetLocalTime(&t);
    EXPECT_TRUE(t.wYear == local.tm_year + 1900 && t.wDayOfWeek == local.tm_wday) << bad;
  }
}

}  // namespace
}  // namespace zemlik::test
