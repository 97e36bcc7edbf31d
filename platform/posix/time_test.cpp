#include "platform/time.h"

#include <stdlib.h>
#include <time.h>

#include "gtest/gtest.h"

namespace {

class FixedClock : public platform::Clock {
 public:
  void Now(SYSTEMTIME* out) override { *out = reading; }
  SYSTEMTIME reading{2008, 12, 0, 21, 23, 59, 58, 999};
};

std::string Show(const SYSTEMTIME& t) {
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u dow=%u", t.wYear, t.wMonth,
           t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
  return text;
}

std::string Read() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return Show(t);
}

class LocalTimeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::SetClockForTesting(nullptr);
    unsetenv("ZEMLIK_CLOCK");
  }
};

TEST_F(LocalTimeTest, AnInstalledClockReplacesTheHostAndTheEnvironment) {
  FixedClock clock;
  setenv("ZEMLIK_CLOCK", "2001-01-01 00:00:00", 1);
  platform::SetClockForTesting(&clock);
  EXPECT_EQ(Read(), "2008-12-21 23:59:58.999 dow=0");
  clock.reading.wSecond = 59;
  EXPECT_EQ(Read(), "2008-12-21 23:59:59.999 dow=0");
  platform::SetClockForTesting(nullptr);
  EXPECT_EQ(Read(), "2001-01-01 00:00:00.000 dow=1");
}

TEST_F(LocalTimeTest, FixedReadingFromTheEnvironment) {
  setenv("ZEMLIK_CLOCK", "2008-12-21 09:05:03", 1);
  EXPECT_EQ(Read(), "2008-12-21 09:05:03.000 dow=0");
  setenv("ZEMLIK_CLOCK", "2024-02-29 23:59:59", 1);
  EXPECT_EQ(Read(), "2024-02-29 23:59:59.000 dow=4");
  setenv("ZEMLIK_CLOCK", "2000-03-01 12:00:00", 1);
  EXPECT_EQ(Read(), "2000-03-01 12:00:00.000 dow=3");
}

// Malformed readings are ignored: the host clock shows through.
TEST_F(LocalTimeTest, MalformedReadingsFallBackToTheHostClock) {
  for (const char* bad :
       {"2008-13-01 00:00:00", "2023-02-29 00:00:00", "2008-12-21 24:00:00", "2008-12-21 9:05:03",
        "2008-12-21 09:05:03x", "2008/12/21 09:05:03", "2008-12-21", "", "1600-01-01 00:00:00"}) {
    setenv("ZEMLIK_CLOCK", bad, 1);
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    SYSTEMTIME t{};
    GetLocalTime(&t);
    // The year can only differ across a new year's midnight between the two readings.
    EXPECT_TRUE(t.wYear == local.tm_year + 1900 || t.wYear == local.tm_year + 1901) << bad;
    EXPECT_NE(t.wYear, 2008) << bad;
  }
}

TEST_F(LocalTimeTest, HostClockFieldsAgreeWithTheCalendar) {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  EXPECT_GE(t.wYear, 2024);
  EXPECT_TRUE(t.wMonth >= 1 && t.wMonth <= 12);
  EXPECT_TRUE(t.wDay >= 1 && t.wDay <= 31);
  EXPECT_LE(t.wHour, 23);
  EXPECT_LE(t.wMinute, 59);
  EXPECT_LE(t.wSecond, 59);
  EXPECT_LE(t.wMilliseconds, 999);
  tm date{};
  date.tm_year = t.wYear - 1900;
  date.tm_mon = t.wMonth - 1;
  date.tm_mday = t.wDay;
  date.tm_hour = 12;
  mktime(&date);
  EXPECT_EQ(t.wDayOfWeek, date.tm_wday);
}

TEST(TickCount, NeverGoesBackwards) {
  DWORD previous = GetTickCount();
  for (int i = 0; i < 1000; ++i) {
    DWORD now = GetTickCount();
    EXPECT_LE(previous, now);
    previous = now;
  }
}

}  // namespace
