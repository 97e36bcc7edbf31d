// The nowtime job: the clock as a two-line CSV file (memory running out: tests/torture_test.cpp).
#include "app/now_time.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

// The job into `path`, with a target date it must ignore.
int WriteNow(const std::string& path) {
  CommandOptions options{kListNowTime, {1999, 7}};
  Utf16(path).copy(options.outputPath, kOutputPathLength - 1);
  return WriteNowTime(&options);
}

TEST(NowTime, WritesTheClockZeroPaddedWithItsTrailingBlank) {
  TempFolder folder;
  const std::string path = folder.Join("now.csv");
  ASSERT_TRUE(WriteFileBytes(path, std::string(4096, 'x')));
  for (auto [reading, line] :
       {std::pair{SYSTEMTIME{2008, 12, 0, 21, 3, 3, 17, 999}, "2008/12/21,03:03:17 "},
        {SYSTEMTIME{987, 1, 0, 2, 0, 4, 5, 0}, "0987/01/02,00:04:05 "}}) {
    FixedClock clock(reading);
    EXPECT_EQ(WriteNow(path), kNowTimeWritten);
    EXPECT_EQ(ReadFileBytes(path), "date,time\r\n" + std::string(line) + "\r\n");
  }
  EXPECT_EQ(WriteNow(folder.Join("missing/now.csv")), kNowTimeFileNotCreated);
  EXPECT_EQ(folder.List(), std::vector<std::string>{"now.csv"});
}

}  // namespace
}  // namespace zemlik::test
