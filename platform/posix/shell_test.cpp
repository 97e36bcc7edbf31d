#include "platform/shell.h"

#include "gtest/gtest.h"

namespace {

TEST(MessageBox, PrintsCaptionAndTextInUtf8AndAnswersOk) {
  ::testing::internal::CaptureStdout();
  int answer =
      MessageBoxW(nullptr, u"Zemlik\nVer.1.0", u"Zemlik について", MB_OK | MB_ICONINFORMATION);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Zemlik \xE3\x81\xAB\xE3\x81\xA4\xE3\x81\x84\xE3\x81\xA6\nZemlik\nVer.1.0\n");
  EXPECT_EQ(answer, IDOK);
}

SHELLEXECUTEINFOW Record(LPCWSTR file, LPCWSTR parameters) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = 60;  // the device's size of the record, as the program sets it
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  return info;
}

TEST(ShellExecute, OnlyTheConnectionErrorDisplayIsKnown) {
  ::testing::internal::CaptureStderr();
  SHELLEXECUTEINFOW display = Record(u":MSREMNET", u"-CMERROR 0x21 -report");
  SHELLEXECUTEINFOW bare = Record(u":MSREMNET", nullptr);
  SHELLEXECUTEINFOW other = Record(u"iexplore.exe", u"http://example.invalid/");
  SHELLEXECUTEINFOW none = Record(nullptr, nullptr);
  EXPECT_TRUE(ShellExecuteExW(&display));
  EXPECT_TRUE(ShellExecuteExW(&bare));
  EXPECT_FALSE(ShellExecuteExW(&other));
  EXPECT_FALSE(ShellExecuteExW(&none));
  EXPECT_FALSE(ShellExecuteExW(nullptr));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            ":MSREMNET -CMERROR 0x21 -report\n:MSREMNET\n");
}

}  // namespace
