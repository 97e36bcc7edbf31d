#include "platform/entry.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/shell.h"

namespace {

std::u16string Build(std::vector<const char*> words) {
  words.insert(words.begin(), "zemlik");
  return platform::BuildArgumentText(static_cast<int>(words.size()), words.data());
}

TEST(ArgumentText, WordsAreJoinedWithSingleBlanks) {
  EXPECT_EQ(Build({}), u"");
  EXPECT_EQ(Build({""}), u"");
  EXPECT_EQ(Build({"/k:nowtime"}), u"/k:nowtime");
  EXPECT_EQ(Build({"/k:comic-ta", "/d:now", "/o:\\My Documents\\monthlist.csv"}),
            u"/k:comic-ta /d:now /o:\"\\My Documents\\monthlist.csv\"");
  EXPECT_EQ(Build({"", ""}), u" ");
  EXPECT_EQ(Build({"/k:url", "", "/c:utf8"}), u"/k:url  /c:utf8");
}

TEST(ArgumentText, OnlyAnOutputPathWithABlankAndNoQuoteIsQuoted) {
  EXPECT_EQ(Build({"/o:\\My Documents\\a b.csv"}), u"/o:\"\\My Documents\\a b.csv\"");
  EXPECT_EQ(Build({"/o:out.csv"}), u"/o:out.csv");
  EXPECT_EQ(Build({"/o:\"a b.csv\""}), u"/o:\"a b.csv\"");
  EXPECT_EQ(Build({"/o:a\"b c"}), u"/o:a\"b c");
  EXPECT_EQ(Build({"/o: "}), u"/o:\" \"");
  EXPECT_EQ(Build({"/O:a b.csv"}), u"/O:a b.csv");
  EXPECT_EQ(Build({"/u:http://x/a b"}), u"/u:http://x/a b");
  EXPECT_EQ(Build({"x /o:a b"}), u"x /o:a b");
  EXPECT_EQ(Build({"/o:a\tb"}), u"/o:a\tb");  // only U+0020 counts as a blank
  EXPECT_EQ(Build({"/k:nowtime", "/o:月 報.csv"}), u"/k:nowtime /o:\"月 報.csv\"");
}

TEST(ArgumentText, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(Build({"/o:\xFF\xE6\x9C", "\xE6\x9C\x88"}), u"/o:\uFFFD\uFFFD\uFFFD \u6708");
}

std::u16string g_seen;
int g_show = 0;

int RecordingWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR text, int show) {
  g_seen = text;
  g_show = show;
  text[0] = u'!';  // the buffer is the program's to write
  return instance == nullptr && previous == nullptr ? 3 : 99;
}

TEST(RunWinMain, PassesTheTextAndReturnsTheResult) {
  char name[] = "zemlik";
  char kind[] = "/k:nowtime";
  char path[] = "/o:a b.csv";
  char* argv[] = {name, kind, path, nullptr};
  EXPECT_EQ(platform::RunWinMain(3, argv, RecordingWinMain), 3);
  EXPECT_EQ(g_seen, u"/k:nowtime /o:\"a b.csv\"");
  EXPECT_EQ(g_show, SW_SHOWNORMAL);

  char* bare[] = {name, nullptr};
  g_seen = u"unchanged";
  EXPECT_EQ(platform::RunWinMain(1, bare,
                                 [](HINSTANCE, HINSTANCE, LPWSTR text, int) {
                                   g_seen = text;
                                   return 1;
                                 }),
            1);
  EXPECT_EQ(g_seen, u"");
}

}  // namespace
