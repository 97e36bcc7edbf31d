// The seams in front of the system's calls: allocation failure, the clock, and the
// device's outputs on standard error (trace lines, the connection-error display).
#include <gtest/gtest.h>

#include <string>

#include "platform/memory.h"
#include "platform/shell.h"
#include "platform/time.h"
#include "platform/trace.h"
#include "tests/support/http_fixture.h"

namespace {

TEST(SeamsTest, TheNthAllocationFailsAndTheOthersAreTheSystems) {
  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(2);
  HLOCAL first = LocalAlloc(LPTR, 16);
  HLOCAL second = LocalAlloc(LPTR, 16);
  HLOCAL third = LocalAlloc(LMEM_FIXED, 0);
  platform::SetAllocationFailureForTesting(0);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(static_cast<BYTE*>(first)[15], 0);
  EXPECT_EQ(LocalSize(first), 16u);  // a block of the system's own heap
  EXPECT_EQ(platform::AllocationCountForTesting(), 3u);
  EXPECT_EQ(LocalFree(first), nullptr);
  EXPECT_EQ(LocalFree(third), nullptr);
}

class FixedClock : public platform::Clock {
 public:
  void Now(SYSTEMTIME* out) override { *out = SYSTEMTIME{2008, 12, 0, 21, 3, 3, 17, 0}; }
};

TEST(SeamsTest, TheClockIsTheSeamsThenZemlikClockThenTheSystems) {
  FixedClock clock;
  SYSTEMTIME now{};
  platform::SetClockForTesting(&clock);
  GetLocalTime(&now);
  platform::SetClockForTesting(nullptr);
  EXPECT_EQ(now.wYear, 2008);
  EXPECT_EQ(now.wSecond, 17);
  {
    ScopedEnvVar fixed("ZEMLIK_CLOCK", "2009-02-28 23:59:58");
    GetLocalTime(&now);
    EXPECT_EQ(now.wYear, 2009);
    EXPECT_EQ(now.wDayOfWeek, 6);  // a Saturday
    EXPECT_EQ(now.wSecond, 58);
  }
  ScopedEnvVar malformed("ZEMLIK_CLOCK", "2009-02-29 00:00:00");
  GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2024);
}

// Standard error redirected into a pipe for the scope.
class CapturedStandardError {
 public:
  CapturedStandardError() : saved_(GetStdHandle(STD_ERROR_HANDLE)) {
    CreatePipe(&read_, &write_, nullptr, 1 << 16);
    SetStdHandle(STD_ERROR_HANDLE, write_);
  }
  ~CapturedStandardError() {
    SetStdHandle(STD_ERROR_HANDLE, saved_);
    CloseHandle(read_);
  }
  std::string Take() {
    SetStdHandle(STD_ERROR_HANDLE, saved_);
    CloseHandle(write_);
    std::string text;
    char chunk[256];
    DWORD got = 0;
    while (ReadFile(read_, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    return text;
  }

 private:
  HANDLE saved_;
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
};

TEST(SeamsTest, TheConnectionErrorDisplayAndTraceLinesGoToStandardError) {
  CapturedStandardError err;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.lpFile = TEXT(":MSREMNET");
  info.lpParameters = TEXT("-CMERROR 0x21 -report");
  EXPECT_TRUE(ShellExecuteExW(&info));
  OutputDebugStringW(TEXT("unseen"));
  {
    ScopedEnvVar trace("ZEMLIK_TRACE", "1");
    OutputDebugStringW(TEXT("cs=1 cl=[/k:nowtime /o:新刊.csv]"));
  }
  EXPECT_EQ(err.Take(), ":MSREMNET -CMERROR 0x21 -report\ncs=1 cl=[/k:nowtime /o:新刊.csv]\n");
}

}  // namespace
