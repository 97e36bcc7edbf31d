// The local clock: generic POSIX code only.
#include "platform/time.h"

#include <time.h>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<platform::Clock*> g_clock{nullptr};

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

// Reads "YYYY-MM-DD hh:mm:ss" exactly; false for anything else or an
// impossible date or time.
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

void HostLocalTime(SYSTEMTIME* out) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  out->wYear = static_cast<WORD>(local.tm_year + 1900);
  out->wMonth = static_cast<WORD>(local.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  out->wDay = static_cast<WORD>(local.tm_mday);
  out->wHour = static_cast<WORD>(local.tm_hour);
  out->wMinute = static_cast<WORD>(local.tm_min);
  // A leap second reads as the 59th, as the device's clock would show it.
  out->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
  out->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

}  // namespace

void GetLocalTime(LPSYSTEMTIME systemTime) {
  if (platform::Clock* clock = g_clock.load()) {
    clock->Now(systemTime);
    return;
  }
  const char* fixed = std::getenv("ZEMLIK_CLOCK");
  if (fixed != nullptr && ParseFixedClock(fixed, systemTime)) return;
  HostLocalTime(systemTime);
}

DWORD GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<DWORD>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                            static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

namespace platform {

void SetClockForTesting(Clock* clock) { g_clock.store(clock); }

}  // namespace platform
