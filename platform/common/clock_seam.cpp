// The time seams (the clock, with the fixed reading of ZEMLIK_CLOCK, and the connection wait):
// portable code shared by the POSIX and Win32 layers.
#include "platform/common/clock_seam.h"

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<Clock*> g_clock{nullptr};
std::atomic<DWORD> g_connectionWait{0};

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// 0 = Sunday, for a date of the proleptic Gregorian calendar.
int DayOfWeek(int year, int month, int day) {
  static constexpr int kOffset[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return (year + year / 4 - year / 100 + year / 400 + kOffset[month - 1] + day) % 7;
}

// Reads "YYYY-MM-DD hh:mm:ss" exactly into *out (day of week filled, milliseconds 0); false,
// with *out untouched, for anything else or an impossible date or time.
bool ParseFixedClock(const char* text, SYSTEMTIME* out) {
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd";
  int fields[6] = {};
  int field = 0;
  for (int i = 0; kShape[i] != 0; ++i) {
    char c = text[i];
    if (kShape[i] == 'd') {
      if (c < '0' || c > '9') return false;
      fields[field] = fields[field] * 10 + (c - '0');
    } else {
      if (c != kShape[i]) return false;
      ++field;
    }
  }
  if (text[sizeof(kShape) - 1] != 0) return false;
  const int year = fields[0], month = fields[1], day = fields[2];
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      fields[3] > 23 || fields[4] > 59 || fields[5] > 59) {
    return false;
  }
  out->wYear = static_cast<WORD>(year);
  out->wMonth = static_cast<WORD>(month);
  out->wDayOfWeek = static_cast<WORD>(DayOfWeek(year, month, day));
  out->wDay = static_cast<WORD>(day);
  out->wHour = static_cast<WORD>(fields[3]);
  out->wMinute = static_cast<WORD>(fields[4]);
  out->wSecond = static_cast<WORD>(fields[5]);
  out->wMilliseconds = 0;
  return true;
}

}  // namespace

bool ReadSeamedClock(SYSTEMTIME* out) {
  if (Clock* clock = g_clock.load()) {
    clock->Now(out);
    return true;
  }
  const char* fixed = std::getenv("ZEMLIK_CLOCK");
  return fixed != nullptr && ParseFixedClock(fixed, out);
}

const char* UnreadableFixedClock() {
  const char* fixed = std::getenv("ZEMLIK_CLOCK");
  SYSTEMTIME reading;
  return fixed != nullptr && fixed[0] != '\0' && !ParseFixedClock(fixed, &reading) ? fixed
                                                                                   : nullptr;
}

void SetClockForTesting(Clock* clock) { g_clock.store(clock); }

DWORD ConnectionWaitMs(DWORD wait) {
  const DWORD shorter = g_connectionWait.load();
  return shorter != 0 && shorter < wait ? shorter : wait;
}

void SetConnectionWaitForTesting(DWORD ms) { g_connectionWait.store(ms); }

}  // namespace platform
