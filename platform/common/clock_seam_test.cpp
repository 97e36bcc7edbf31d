// The fixed reading of ZEMLIK_CLOCK: what it reads, weekday included, and what it ignores.
#include "platform/common/clock_seam.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "platform/time.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

// ZEMLIK_CLOCK=`text` (null: unset) read as "YYYY-MM-DD hh:mm:ss.mmm weekday" (0 = Sunday),
// "unreadable" (the run must not start), or "host" (the C library's local time is read).
std::string Reading(const char* text) {
  ScopedEnv clock({{"ZEMLIK_CLOCK", text}});
  SYSTEMTIME t{};
  char reading[64];
  if (const char* value = platform::UnreadableFixedClock())
    return value == std::string(text) ? "unreadable" : "?";
  if (platform::ReadSeamedClock(&t)) {
    std::snprintf(reading, sizeof reading, "%04d-%02d-%02d %02d:%02d:%02d.%03d %d", t.wYear,
                  t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
    return reading;
  }
  GetLocalTime(&t);
  std::tm local{t.wSecond, t.wMinute, t.wHour, t.wDay, t.wMonth - 1, t.wYear - 1900, 0, 0, -1};
  const std::time_t skew = std::mktime(&local) - std::time(nullptr);
  return skew * skew <= 1 && local.tm_wday == t.wDayOfWeek ? "host" : "not the host's";
}

TEST(ClockSeam, ZemlikClockIsReadWithItsWeekdayOrRefused) {
  // Each row is the reading of its first 19 characters.
  for (const std::string row :
       {"2008-12-21 03:03:17.000 0", "2008-02-29 23:59:59.000 5", "2000-02-29 00:00:00.000 2",
        "1900-03-01 00:00:00.000 4", "1601-01-01 00:00:00.000 1", "9999-12-31 23:59:59.000 5"})
    EXPECT_EQ(Reading(row.substr(0, 19).c_str()), row);
  EXPECT_EQ(Reading("") + Reading(nullptr), "hosthost");
  for (const char* text :
       {"2008-12-21 03:03:17x", "2008-12-21 3:03:17", "2008-12-21T03:03:17", "2009-02-29 00:00:00",
        "2000-02-30 00:00:00", "1900-02-29 00:00:00", "1600-12-31 23:59:59", "2008-00-10 00:00:00",
        "2008-13-01 00:00:00", "2008-04-31 00:00:00", "2008-12-00 00:00:00", "2008-12-21 24:00:00",
        "2008-12-21 23:60:00", "2008-12-21 23:59:60"})
    EXPECT_EQ(Reading(text), "unreadable") << text;
}

}  // namespace
}  // namespace zemlik::test
