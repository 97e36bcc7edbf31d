#include "platform/entry.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "tests/support/win32/host.h"

namespace {

using zemlik::testing::QuoteWord;

// The words as a Windows shell hands them over: quoted into one command line and
// split again by the system, as RunWinMain receives them.
std::wstring Rebuilt(const std::vector<std::wstring>& words) {
  std::wstring commandLine = L"zemlik.exe";
  for (const std::wstring& word : words) commandLine += L" " + QuoteWord(word);
  int count = 0;
  LPWSTR* split = CommandLineToArgvW(commandLine.c_str(), &count);
  std::wstring text = platform::BuildArgumentText(count, split);
  LocalFree(split);
  return text;
}

TEST(EntryTest, WordsAreJoinedAndAnOutputWordWithBlanksIsQuotedForTheDevice) {
  EXPECT_EQ(Rebuilt({}), L"");
  EXPECT_EQ(Rebuilt({L""}), L"");
  EXPECT_EQ(Rebuilt({L"/k:nowtime", L"/d:2008/12"}), L"/k:nowtime /d:2008/12");
  EXPECT_EQ(Rebuilt({L"/k:nowtime", L"/o:\\My Documents\\月 一覧.csv"}),
            L"/k:nowtime /o:\"\\My Documents\\月 一覧.csv\"");
  // Quotes the user typed stay; other words with blanks are joined as they are.
  EXPECT_EQ(Rebuilt({L"/o:\"\\My Documents\\a b.csv\""}), L"/o:\"\\My Documents\\a b.csv\"");
  EXPECT_EQ(Rebuilt({L"/u:a b", L"C:\\dir\\"}), L"/u:a b C:\\dir\\");
}

TEST(EntryTest, ACommandLineTypedWithQuotesGivesTheDevicesText) {
  int count = 0;
  LPWSTR* split =
      CommandLineToArgvW(L"zemlik.exe /k:comic-ta /d:now /o:\"\\My Documents\\a b.csv\"", &count);
  EXPECT_EQ(platform::BuildArgumentText(count, split),
            L"/k:comic-ta /d:now /o:\"\\My Documents\\a b.csv\"");
  LocalFree(split);
}

}  // namespace
