// The local clock: generic POSIX code only.
#include "platform/time.h"

#include <time.h>

#include <algorithm>
#include <cstdint>

#include "platform/common/clock_seam.h"

namespace {

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
  out->wSecond = static_cast<WORD>(std::min(local.tm_sec, 59));
  out->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

}  // namespace

void GetLocalTime(LPSYSTEMTIME systemTime) {
  if (!platform::ReadSeamedClock(systemTime)) HostLocalTime(systemTime);
}

DWORD GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<DWORD>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                            static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}
