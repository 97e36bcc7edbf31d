#include "app/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "http/charset.h"
#include "platform/memory.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::Utf8;
using zemlik::testing::WString;
using zemlik::testing::WStringView;

constexpr WCHAR kDefaultPath[] = TEXT("\\My Documents\\monthlist.csv");

// The whole record after a parse, starting from the defaults below (the year
// and month stand for "this month", kept distinct from every parsed value).
struct Expected {
  int result = 0;
  int kind = 1;
  WORD year = 1999;
  WORD month = 7;
  std::optional<WString> url = std::nullopt;
  const WCHAR* charset = kCharsetSjis;
  WString path = kDefaultPath;
};

CommandOptions Defaults() {
  CommandOptions options{};
  options.kind = 1;
  options.targetDate.wYear = 1999;
  options.targetDate.wMonth = 7;
  options.url = nullptr;
  options.charset = kCharsetSjis;
  std::copy(std::begin(kDefaultPath), std::end(kDefaultPath), options.outputPath);
  return options;
}

WString CharsetName(const WCHAR* charset) {
  return charset == nullptr ? TEXT("(null)") : WString(charset);
}

void ExpectRecord(const CommandOptions& options, int result, const Expected& e) {
  EXPECT_EQ(result, e.result);
  EXPECT_EQ(options.kind, e.kind);
  EXPECT_EQ(options.targetDate.wYear, e.year);
  EXPECT_EQ(options.targetDate.wMonth, e.month);
  EXPECT_EQ(options.targetDate.wDayOfWeek, 0);
  EXPECT_EQ(options.targetDate.wDay, 0);
  EXPECT_EQ(options.targetDate.wHour, 0);
  EXPECT_EQ(options.targetDate.wMinute, 0);
  EXPECT_EQ(options.targetDate.wSecond, 0);
  EXPECT_EQ(options.targetDate.wMilliseconds, 0);
  if (e.url) {
    ASSERT_NE(options.url, nullptr);
    EXPECT_EQ(Utf8(options.url), Utf8(*e.url));
  } else {
    EXPECT_EQ(options.url, nullptr) << Utf8(options.url);
  }
  // The very pointer of the constant table, not just an equal string.
  EXPECT_EQ(options.charset, e.charset)
      << Utf8(CharsetName(options.charset)) << " vs " << Utf8(CharsetName(e.charset));
  const WStringView whole(options.outputPath, kOutputPathLength);
  const size_t end = whole.find(TEXT('\0'));
  ASSERT_NE(end, std::u16string_view::npos) << "outputPath is not terminated";
  EXPECT_EQ(Utf8(WString(whole.substr(0, end))), Utf8(e.path));
}

// Parses `text` over fresh defaults and checks the whole record.
void Check(const WString& text, const Expected& e) {
  SCOPED_TRACE("text: [" + Utf8(text) + "]");
  CommandOptions options = Defaults();
  const int result = ParseCommandLine(text.c_str(), &options);
  ExpectRecord(options, result, e);
  LocalFree(options.url);
}

struct Case {
  WString text;
  Expected expected;
};

void CheckAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) Check(c.text, c.expected);
}

constexpr int kRejected = -101;

TEST(ParseCommandLineTest, EmptyAndBlankTextsChangeNothing) {
  CheckAll({
      {TEXT(""), {}},
      {TEXT(" "), {}},
      {TEXT("      "), {}},
  });
}

TEST(ParseCommandLineTest, PrefixesBetweenOptions) {
  CheckAll({
      // Any number of blanks before, between and after options.
      {TEXT("   /k:url   /c:bin  "), {.kind = 4, .charset = kCharsetBin}},
      {TEXT("/k:nowtime /d:2008/12 /u:http://h/ /c:utf8 /o:x.csv"),
       {.kind = 5,
        .year = 2008,
        .month = 12,
        .url = TEXT("http://h/"),
        .charset = kCharsetUtf8,
        .path = TEXT("x.csv")}},
      // Options in any order.
      {TEXT("/o:x.csv /c:utf8 /u:http://h/ /d:2008/12 /k:nowtime"),
       {.kind = 5,
        .year = 2008,
        .month = 12,
        .url = TEXT("http://h/"),
        .charset = kCharsetUtf8,
        .path = TEXT("x.csv")}},
      // Anything that is not one of the five prefixes is rejected.
      {TEXT("/x:1"), {.result = kRejected}},
      {TEXT("k:url"), {.result = kRejected}},
      {TEXT("/k"), {.result = kRejected}},
      {TEXT("/"), {.result = kRejected}},
      {TEXT("-k:url"), {.result = kRejected}},
      {TEXT("/K:url"), {.result = kRejected}},
      {TEXT("/O:x.csv"), {.result = kRejected}},
      {TEXT("\t/k:url"), {.result = kRejected}},
      {TEXT("/k:url\t"), {.result = kRejected, .kind = 4}},
      {TEXT("\u3000/k:url"), {.result = kRejected}},
  });
}

TEST(ParseCommandLineTest, KindKeywords) {
  CheckAll({
      {TEXT("/k:comic-ta"), {.kind = 1}},
      {TEXT("/k:bunko-ta"), {.kind = 2}},
      {TEXT("/k:comic-wf"), {.kind = 3}},
      {TEXT("/k:url"), {.kind = 4}},
      {TEXT("/k:nowtime"), {.kind = 5}},
      // A later /k: overrides an earlier one.
      {TEXT("/k:url /k:bunko-ta"), {.kind = 2}},
      // After a keyword the next option may follow with no blank.
      {TEXT("/k:comic-ta/d:now"), {.kind = 1}},
      {TEXT("/k:bunko-ta/d:2008/3"), {.kind = 2, .year = 2008, .month = 3}},
      {TEXT("/k:url/u:http://h/p"), {.kind = 4, .url = TEXT("http://h/p")}},
      // ... but anything else after it is examined as between options.
      {TEXT("/k:bunko-tax"), {.result = kRejected, .kind = 2}},
      {TEXT("/k:url s"), {.result = kRejected, .kind = 4}},
      {TEXT("/k:comic-ta-2"), {.result = kRejected, .kind = 1}},
      // Unknown, shortened or upper-case keywords.
      {TEXT("/k:comic"), {.result = kRejected}},
      {TEXT("/k:nowtim"), {.result = kRejected}},
      {TEXT("/k:URL"), {.result = kRejected}},
      {TEXT("/k:Comic-ta"), {.result = kRejected}},
      {TEXT("/k: url"), {.result = kRejected}},
      {TEXT("/k:url /k:bogus"), {.result = kRejected, .kind = 4}},
  });
}

TEST(ParseCommandLineTest, DatesWithEachSeparator) {
  CheckAll({
      {TEXT("/d:2008/5"), {.year = 2008, .month = 5}},
      {TEXT("/d:2008-5"), {.year = 2008, .month = 5}},
      {TEXT("/d:2008.5"), {.year = 2008, .month = 5}},
      {TEXT("/d:2008/12 /k:url"), {.kind = 4, .year = 2008, .month = 12}},
      {TEXT("/d:2008-12 /k:url"), {.kind = 4, .year = 2008, .month = 12}},
      {TEXT("/d:2008.12 /k:url"), {.kind = 4, .year = 2008, .month = 12}},
      {TEXT("/d:2010/01 "), {.year = 2010, .month = 1}},
      // A month is stored without a range test.
      {TEXT("/d:2008/0"), {.year = 2008, .month = 0}},
      {TEXT("/d:2008/13"), {.year = 2008, .month = 13}},
      // Values wider than 16 bits are stored in 16 bits.
      {TEXT("/d:2008/65541"), {.year = 2008, .month = 5}},
      {TEXT("/d:2008/") + WString(300, TEXT('0')) + TEXT("7"), {.year = 2008, .month = 7}},
      // "now" keeps what the record holds: the default, or an earlier date.
      {TEXT("/d:now"), {}},
      {TEXT("/d:2008/12 /d:now"), {.year = 2008, .month = 12}},
      {TEXT("/d:now/k:url"), {.kind = 4}},
      {TEXT("/d:2008/12 /d:2010/2"), {.year = 2010, .month = 2}},
  });
}

TEST(ParseCommandLineTest, YearsBelowOneHundredGainTwoThousand) {
  CheckAll({
      {TEXT("/d:08/12 "), {.year = 2008, .month = 12}},
      {TEXT("/d:8/1"), {.year = 2008, .month = 1}},
      {TEXT("/d:0/1"), {.year = 2000, .month = 1}},
      {TEXT("/d:99/1"), {.year = 2099, .month = 1}},
      {TEXT("/d:0099/1"), {.year = 2099, .month = 1}},
      {TEXT("/d:100/1"), {.year = 100, .month = 1}},
      {TEXT("/d:1999/1"), {.year = 1999, .month = 1}},
  });
}

TEST(ParseCommandLineTest, MalformedDates) {
  CheckAll({
      // A year needs its separator before a blank.
      {TEXT("/d:2008 "), {.result = kRejected}},
      {TEXT("/d:2008 /k:url"), {.result = kRejected}},
      // After a month only a blank or the end may come.
      {TEXT("/d:2008/12/k:url"), {.result = kRejected, .year = 2008}},
      {TEXT("/d:2008/12x"), {.result = kRejected, .year = 2008}},
      {TEXT("/d:2008/1/2"), {.result = kRejected, .year = 2008}},
      // "now" directly followed by a letter.
      {TEXT("/d:nowx"), {.result = kRejected}},
      {TEXT("/d:nowtime"), {.result = kRejected}},
      // Neither "now" nor a digit.
      {TEXT("/d:x"), {.result = kRejected}},
      {TEXT("/d:NOW"), {.result = kRejected}},
      {TEXT("/d: 2008/1"), {.result = kRejected}},
      {TEXT("/d:/12"), {.result = kRejected}},
      {TEXT("/d:-1/12"), {.result = kRejected}},
      {TEXT("/d:2008:12"), {.result = kRejected}},
      {TEXT("/d:2008/x"), {.result = kRejected, .year = 2008}},
      {TEXT("/d:2008/ "), {.result = kRejected, .year = 2008}},
      {TEXT("/d:2008//12"), {.result = kRejected, .year = 2008}},
  });
}

TEST(ParseCommandLineTest, Urls) {
  CheckAll({
      {TEXT("/u:http://example.com/a?b=c&d=e"), {.url = TEXT("http://example.com/a?b=c&d=e")}},
      // The URL runs to the next blank; options after it need that blank.
      {TEXT("/u:http://h/p /k:url"), {.kind = 4, .url = TEXT("http://h/p")}},
      {TEXT("/u:http://h/p/k:url"), {.url = TEXT("http://h/p/k:url")}},
      // A double quote is an ordinary character.
      {TEXT("/u:\"http://h/\""), {.url = TEXT("\"http://h/\"")}},
      // An empty URL, directly followed by a blank or at the end.
      {TEXT("/u: /k:url"), {.kind = 4, .url = TEXT("")}},
      {TEXT("/u:"), {.url = TEXT("")}},
      // A second /u: is rejected when its value is complete.
      {TEXT("/u:a /u:b"), {.result = kRejected, .url = TEXT("a")}},
      {TEXT("/u:a /u:b /k:url"), {.result = kRejected, .url = TEXT("a")}},
      {TEXT("/u:a /u:"), {.result = kRejected, .url = TEXT("a")}},
      {TEXT("/u:a /u: "), {.result = kRejected, .url = TEXT("a")}},
      {TEXT("/U:http://h/"), {.result = kRejected}},
  });
}

TEST(ParseCommandLineTest, Charsets) {
  CheckAll({
      {TEXT("/c:sjis"), {.charset = kCharsetSjis}},
      {TEXT("/c:utf8"), {.charset = kCharsetUtf8}},
      {TEXT("/c:unicode"), {.charset = kCharsetUnicode}},
      {TEXT("/c:bin"), {.charset = kCharsetBin}},
      {TEXT("/c:bin /c:utf8"), {.charset = kCharsetUtf8}},
      {TEXT("/c:bin/k:url"), {.kind = 4, .charset = kCharsetBin}},
      {TEXT("/c:SJIS"), {.result = kRejected}},
      {TEXT("/c:Bin"), {.result = kRejected}},
      {TEXT("/c:utf-8"), {.result = kRejected}},
      {TEXT("/c:utf16"), {.result = kRejected}},
      {TEXT("/c:uni"), {.result = kRejected}},
      {TEXT("/c:binary"), {.result = kRejected, .charset = kCharsetBin}},
  });
}

TEST(ParseCommandLineTest, QuotedPaths) {
  CheckAll({
      {TEXT("/o:\"\\My Documents\\month list.csv\""), {.path = TEXT("\\My Documents\\month list.csv")}},
      {TEXT("/o:\"a b\" /k:url"), {.kind = 4, .path = TEXT("a b")}},
      // After the closing quote the text is examined as between options.
      {TEXT("/o:\"a b\"/k:url"), {.kind = 4, .path = TEXT("a b")}},
      {TEXT("/o:\"a b\"c"), {.result = kRejected, .path = TEXT("a b")}},
      {TEXT("/o:\"\""), {.path = TEXT("")}},
      {TEXT("/o:\"\" /k:nowtime"), {.kind = 5, .path = TEXT("")}},
      // A quoted path without its closing quote is dropped.
      {TEXT("/o:\"a b"), {}},
      {TEXT("/o:\""), {}},
      {TEXT("/o:x.csv /o:\"unfinished"), {.path = TEXT("x.csv")}},
  });
}

TEST(ParseCommandLineTest, UnquotedPaths) {
  CheckAll({
      {TEXT("/o:\\Temp\\x.csv"), {.path = TEXT("\\Temp\\x.csv")}},
      {TEXT("/o:x.csv /k:url"), {.kind = 4, .path = TEXT("x.csv")}},
      {TEXT("/o:a\"b"), {.path = TEXT("a\"b")}},
      {TEXT("/o:a/k:url"), {.path = TEXT("a/k:url")}},
      {TEXT("/o:a.csv /o:b.csv"), {.path = TEXT("b.csv")}},
      // A blank right after the prefix is the path's first character.
      {TEXT("/o: word"), {.path = TEXT(" word")}},
      {TEXT("/o: "), {.path = TEXT(" ")}},
      {TEXT("/o: word /k:url"), {.kind = 4, .path = TEXT(" word")}},
      // The path ends at its first blank; the rest must parse as options.
      {TEXT("/o:\\My Documents\\monthlist.csv"), {.result = kRejected, .path = TEXT("\\My")}},
  });
}

TEST(ParseCommandLineTest, LongPathsAreCutTo259Characters) {
  const WString p259(259, TEXT('p'));
  const WString p260 = p259 + TEXT("q");
  const WString p300 = p259 + WString(41, TEXT('r'));
  CheckAll({
      {TEXT("/o:") + p259, {.path = p259}},
      {TEXT("/o:") + p260, {.path = p259}},
      {TEXT("/o:") + p300, {.path = p259}},
      {TEXT("/o:") + p300 + TEXT(" /k:url"), {.kind = 4, .path = p259}},
      {TEXT("/o:\"") + p300 + TEXT("\""), {.path = p259}},
      {TEXT("/o:\"") + p300 + TEXT("\" /k:url"), {.kind = 4, .path = p259}},
  });
}

TEST(ParseCommandLineTest, EndOfTextRules) {
  CheckAll({
      // A bare prefix at the end changes nothing ...
      {TEXT("/k:"), {}},
      {TEXT("/d:"), {}},
      {TEXT("/c:"), {}},
      {TEXT("/o:"), {}},
      {TEXT("/k:url /o:"), {.kind = 4}},
      // ... except /u:, whose empty value is completed.
      {TEXT("/u:"), {.url = TEXT("")}},
      // A URL, an unquoted path and a month run to the end.
      {TEXT("/u:http://h/x"), {.url = TEXT("http://h/x")}},
      {TEXT("/o:x.csv"), {.path = TEXT("x.csv")}},
      {TEXT("/d:2008/5"), {.year = 2008, .month = 5}},
      // A year without a separator is dropped; after the separator it is kept.
      {TEXT("/d:2008"), {}},
      {TEXT("/d:2008/"), {.year = 2008}},
      {TEXT("/d:2008-"), {.year = 2008}},
      // A quoted path without its closing quote is dropped.
      {TEXT("/o:\"abc"), {}},
  });
}

TEST(ParseCommandLineTest, UsageExampleAndSpacedOptions) {
  CheckAll({
      {TEXT("/k:comic-ta /d:now /o:\"\\My Documents\\monthlist.csv\""), {.path = kDefaultPath}},
      {TEXT("/k:comic-ta /d:now /o:\"\\My Documents\\other.csv\""),
       {.path = TEXT("\\My Documents\\other.csv")}},
  });
}

TEST(ParseCommandLineTest, NonAsciiValues) {
  CheckAll({
      {TEXT("/o:\"\\My Documents\\新刊 一覧.csv\""), {.path = TEXT("\\My Documents\\新刊 一覧.csv")}},
      {TEXT("/u:http://h/検索?q=本"), {.url = TEXT("http://h/検索?q=本")}},
  });
}

// Allocations the parser makes, numbered from the test's start: year copy,
// month copy, URL copy, in the order of the text.
class ParseAllocationTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetAllocationFailureForTesting(0); }

  void CheckWithFailure(unsigned long failAt, const WString& text, const Expected& e) {
    SCOPED_TRACE("allocation " + std::to_string(failAt) + " fails");
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(failAt);
    Check(text, e);
    platform::SetAllocationFailureForTesting(0);
  }
};

TEST_F(ParseAllocationTest, EachCopyThatCannotBeAllocatedRejects) {
  const WString text = TEXT("/k:url /d:2008/12 /u:http://h/ /o:x.csv");
  CheckWithFailure(1, text, {.result = kRejected, .kind = 4});
  CheckWithFailure(2, text, {.result = kRejected, .kind = 4, .year = 2008});
  CheckWithFailure(3, text, {.result = kRejected, .kind = 4, .year = 2008, .month = 12});
  // The fourth allocation is never asked for.
  CheckWithFailure(4, text,
                   {.kind = 4, .year = 2008, .month = 12, .url = TEXT("http://h/"), .path = TEXT("x.csv")});
}

TEST_F(ParseAllocationTest, CopiesAtTheEndOfTheText) {
  CheckWithFailure(1, TEXT("/u:http://h/"), {.result = kRejected});
  CheckWithFailure(2, TEXT("/d:2008/12"), {.result = kRejected, .year = 2008});
}

}  // namespace
