#include "lists/now_time.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory.h"
#include "platform/time.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::ReadFileBytes;
using zemlik::testing::TempFolder;
using zemlik::testing::Utf16;
using zemlik::testing::WriteFileBytes;
using zemlik::testing::WString;

class FixedClock : public platform::Clock {
 public:
  explicit FixedClock(SYSTEMTIME reading) : reading_(reading) {}
  void Now(SYSTEMTIME* out) override { *out = reading_; }

 private:
  SYSTEMTIME reading_;
};

SYSTEMTIME Reading(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME t{};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = second;
  t.wMilliseconds = 999;
  return t;
}

class NowTimeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::SetClockForTesting(nullptr);
    platform::SetAllocationFailureForTesting(0);
  }

  // Options as the entry leaves them, with a target date the job must ignore.
  CommandOptions OptionsFor(const std::string& hostPath) {
    CommandOptions options{};
    options.kind = 5;
    options.targetDate.wYear = 1999;
    options.targetDate.wMonth = 7;
    const WString path = Utf16(hostPath);
    EXPECT_LT(path.size(), kOutputPathLength);
    path.copy(options.outputPath, kOutputPathLength - 1);
    return options;
  }

  // Runs the job with the clock pinned to `reading` and returns its result.
  int Run(const SYSTEMTIME& reading, const std::string& hostPath) {
    FixedClock clock(reading);
    platform::SetClockForTesting(&clock);
    const CommandOptions options = OptionsFor(hostPath);
    const int result = WriteNowTime(&options);
    platform::SetClockForTesting(nullptr);
    return result;
  }

  TempFolder folder_;
};

TEST_F(NowTimeTest, WritesTheHeaderAndTheClockWithItsTrailingBlank) {
  const std::string path = folder_.Join("now.csv");
  EXPECT_EQ(Run(Reading(2008, 12, 21, 3, 3, 17), path), 0);
  EXPECT_EQ(ReadFileBytes(path), "date,time\r\n2008/12/21,03:03:17 \r\n");
}

TEST_F(NowTimeTest, MidnightAndSingleDigitsAreZeroPadded) {
  const std::string path = folder_.Join("now.csv");
  EXPECT_EQ(Run(Reading(2009, 1, 2, 0, 4, 5), path), 0);
  EXPECT_EQ(ReadFileBytes(path), "date,time\r\n2009/01/02,00:04:05 \r\n");
  EXPECT_EQ(Run(Reading(2010, 10, 31, 23, 59, 59), path), 0);
  EXPECT_EQ(ReadFileBytes(path), "date,time\r\n2010/10/31,23:59:59 \r\n");
  EXPECT_EQ(Run(Reading(987, 1, 1, 0, 0, 0), path), 0);
  EXPECT_EQ(ReadFileBytes(path), "date,time\r\n0987/01/01,00:00:00 \r\n");
}

TEST_F(NowTimeTest, ReplacesAnExistingFile) {
  const std::string path = folder_.Join("now.csv");
  ASSERT_TRUE(WriteFileBytes(path, std::string(4096, 'x')));
  EXPECT_EQ(Run(Reading(2008, 12, 21, 3, 3, 17), path), 0);
  EXPECT_EQ(ReadFileBytes(path), "date,time\r\n2008/12/21,03:03:17 \r\n");
}

TEST_F(NowTimeTest, AMissingFolderGives101AndNoFile) {
  EXPECT_EQ(Run(Reading(2008, 12, 21, 3, 3, 17), folder_.Join("missing/now.csv")), 101);
  EXPECT_TRUE(folder_.List().empty());
}

TEST_F(NowTimeTest, ALineThatCannotBeWrittenGives102AndKeepsTheOldFile) {
  // The job's allocations are the two lines' conversion buffers, in order.
  const std::string path = folder_.Join("now.csv");
  for (unsigned long failing : {1ul, 2ul}) {
    ASSERT_TRUE(WriteFileBytes(path, "old"));
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(failing);
    EXPECT_EQ(Run(Reading(2008, 12, 21, 3, 3, 17), path), 102);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(folder_.List(), std::vector<std::string>{"now.csv"});
  }
}

}  // namespace
