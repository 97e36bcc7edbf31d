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

constexpr char16_t kDefaultPath[] = u"\\My Documents\\monthlist.csv";

// The whole record after a parse, starting from the defaults below (the year
// and month stand for "this month", kept distinct from every parsed value).
struct Expected {
  int result = 0;
  int kind = 1;
  WORD year = 1999;
  WORD month = 7;
  std::optional<std::u16string> url = std::nullopt;
  const WCHAR* charset = kCharsetSjis;
  std::u16string path = kDefaultPath;
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

std::u16string CharsetName(const WCHAR* charset) {
  return charset == nullptr ? u"(null)" : std::u16string(charset);
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
  const std::u16string_view whole(options.outputPath, kOutputPathLength);
  const size_t end = whole.find(u'\0');
  ASSERT_NE(end, std::u16string_view::npos) << "outputPath is not terminated";
  EXPECT_EQ(Utf8(std::u16string(whole.substr(0, end))), Utf8(e.path));
}

// Parses `text` over fresh defaults and checks the whole record.
void Check(const std::u16string& text, const Expected& e) {
  SCOPED_TRACE("text: [" + Utf8(text) + "]");
  CommandOptions options = Defaults();
  const int result = ParseCommandLine(text.c_str(), &options);
  ExpectRecord(options, result, e);
  LocalFree(options.url);
}

struct Case {
  std::u16string text;
  Expected expected;
};

void CheckAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) Check(c.text, c.expected);
}

constexpr int kRejected = -101;

TEST(ParseCommandLineTest, EmptyAndBlankTextsChangeNothing) {
  CheckAll({
      {u"", {}},
      {u" ", {}},
      {u"      ", {}},
  });
}

TEST(ParseCommandLineTest, PrefixesBetweenOptions) {
  CheckAll({
      // Any number of blanks before, between and after options.
      {u"   /k:url   /c:bin  ", {.kind = 4, .charset = kCharsetBin}},
      {u"/k:nowtime /d:2008/12 /u:http://h/ /c:utf8 /o:x.csv",
       {.kind = 5,
        .year = 2008,
        .month = 12,
        .url = u"http://h/",
        .charset = kCharsetUtf8,
        .path = u"x.csv"}},
      // Options in any order.
      {u"/o:x.csv /c:utf8 /u:http://h/ /d:2008/12 /k:nowtime",
       {.kind = 5,
        .year = 2008,
        .month = 12,
        .url = u"http://h/",
        .charset = kCharsetUtf8,
        .path = u"x.csv"}},
      // Anything that is not one of the five prefixes is rejected.
      {u"/x:1", {.result = kRejected}},
      {u"k:url", {.result = kRejected}},
      {u"/k", {.result = kRejected}},
      {u"/", {.result = kRejected}},
      {u"-k:url", {.result = kRejected}},
      {u"/K:url", {.result = kRejected}},
      {u"/O:x.csv", {.result = kRejected}},
      {u"\t/k:url", {.result = kRejected}},
      {u"/k:url\t", {.result = kRejected, .kind = 4}},
      {u"\u3000/k:url", {.result = kRejected}},
  });
}

TEST(ParseCommandLineTest, KindKeywords) {
  CheckAll({
      {u"/k:comic-ta", {.kind = 1}},
      {u"/k:bunko-ta", {.kind = 2}},
      {u"/k:comic-wf", {.kind = 3}},
      {u"/k:url", {.kind = 4}},
      {u"/k:nowtime", {.kind = 5}},
      // A later /k: overrides an earlier one.
      {u"/k:url /k:bunko-ta", {.kind = 2}},
      // After a keyword the next option may follow with no blank.
      {u"/k:comic-ta/d:now", {.kind = 1}},
      {u"/k:bunko-ta/d:2008/3", {.kind = 2, .year = 2008, .month = 3}},
      {u"/k:url/u:http://h/p", {.kind = 4, .url = u"http://h/p"}},
      // ... but anything else after it is examined as between options.
      {u"/k:bunko-tax", {.result = kRejected, .kind = 2}},
      {u"/k:url s", {.result = kRejected, .kind = 4}},
      {u"/k:comic-ta-2", {.result = kRejected, .kind = 1}},
      // Unknown, shortened or upper-case keywords.
      {u"/k:comic", {.result = kRejected}},
      {u"/k:nowtim", {.result = kRejected}},
      {u"/k:URL", {.result = kRejected}},
      {u"/k:Comic-ta", {.result = kRejected}},
      {u"/k: url", {.result = kRejected}},
      {u"/k:url /k:bogus", {.result = kRejected, .kind = 4}},
  });
}

TEST(ParseCommandLineTest, DatesWithEachSeparator) {
  CheckAll({
      {u"/d:2008/5", {.year = 2008, .month = 5}},
      {u"/d:2008-5", {.year = 2008, .month = 5}},
      {u"/d:2008.5", {.year = 2008, .month = 5}},
      {u"/d:2008/12 /k:url", {.kind = 4, .year = 2008, .month = 12}},
      {u"/d:2008-12 /k:url", {.kind = 4, .year = 2008, .month = 12}},
      {u"/d:2008.12 /k:url", {.kind = 4, .year = 2008, .month = 12}},
      {u"/d:2010/01 ", {.year = 2010, .month = 1}},
      // A month is stored without a range test.
      {u"/d:2008/0", {.year = 2008, .month = 0}},
      {u"/d:2008/13", {.year = 2008, .month = 13}},
      // Values wider than 16 bits are stored in 16 bits.
      {u"/d:2008/65541", {.year = 2008, .month = 5}},
      {u"/d:2008/" + std::u16string(300, u'0') + u"7", {.year = 2008, .month = 7}},
      // "now" keeps what the record holds: the default, or an earlier date.
      {u"/d:now", {}},
      {u"/d:2008/12 /d:now", {.year = 2008, .month = 12}},
      {u"/d:now/k:url", {.kind = 4}},
      {u"/d:2008/12 /d:2010/2", {.year = 2010, .month = 2}},
  });
}

TEST(ParseCommandLineTest, YearsBelowOneHundredGainTwoThousand) {
  CheckAll({
      {u"/d:08/12 ", {.year = 2008, .month = 12}},
      {u"/d:8/1", {.year = 2008, .month = 1}},
      {u"/d:0/1", {.year = 2000, .month = 1}},
      {u"/d:99/1", {.year = 2099, .month = 1}},
      {u"/d:0099/1", {.year = 2099, .month = 1}},
      {u"/d:100/1", {.year = 100, .month = 1}},
      {u"/d:1999/1", {.year = 1999, .month = 1}},
  });
}

TEST(ParseCommandLineTest, MalformedDates) {
  CheckAll({
      // A year needs its separator before a blank.
      {u"/d:2008 ", {.result = kRejected}},
      {u"/d:2008 /k:url", {.result = kRejected}},
      // After a month only a blank or the end may come.
      {u"/d:2008/12/k:url", {.result = kRejected, .year = 2008}},
      {u"/d:2008/12x", {.result = kRejected, .year = 2008}},
      {u"/d:2008/1/2", {.result = kRejected, .year = 2008}},
      // "now" directly followed by a letter.
      {u"/d:nowx", {.result = kRejected}},
      {u"/d:nowtime", {.result = kRejected}},
      // Neither "now" nor a digit.
      {u"/d:x", {.result = kRejected}},
      {u"/d:NOW", {.result = kRejected}},
      {u"/d: 2008/1", {.result = kRejected}},
      {u"/d:/12", {.result = kRejected}},
      {u"/d:-1/12", {.result = kRejected}},
      {u"/d:2008:12", {.result = kRejected}},
      {u"/d:2008/x", {.result = kRejected, .year = 2008}},
      {u"/d:2008/ ", {.result = kRejected, .year = 2008}},
      {u"/d:2008//12", {.result = kRejected, .year = 2008}},
  });
}

TEST(ParseCommandLineTest, Urls) {
  CheckAll({
      {u"/u:http://example.com/a?b=c&d=e", {.url = u"http://example.com/a?b=c&d=e"}},
      // The URL runs to the next blank; options after it need that blank.
      {u"/u:http://h/p /k:url", {.kind = 4, .url = u"http://h/p"}},
      {u"/u:http://h/p/k:url", {.url = u"http://h/p/k:url"}},
      // A double quote is an ordinary character.
      {u"/u:\"http://h/\"", {.url = u"\"http://h/\""}},
      // An empty URL, directly followed by a blank or at the end.
      {u"/u: /k:url", {.kind = 4, .url = u""}},
      {u"/u:", {.url = u""}},
      // A second /u: is rejected when its value is complete.
      {u"/u:a /u:b", {.result = kRejected, .url = u"a"}},
      {u"/u:a /u:b /k:url", {.result = kRejected, .url = u"a"}},
      {u"/u:a /u:", {.result = kRejected, .url = u"a"}},
      {u"/u:a /u: ", {.result = kRejected, .url = u"a"}},
      {u"/U:http://h/", {.result = kRejected}},
  });
}

TEST(ParseCommandLineTest, Charsets) {
  CheckAll({
      {u"/c:sjis", {.charset = kCharsetSjis}},
      {u"/c:utf8", {.charset = kCharsetUtf8}},
      {u"/c:unicode", {.charset = kCharsetUnicode}},
      {u"/c:bin", {.charset = kCharsetBin}},
      {u"/c:bin /c:utf8", {.charset = kCharsetUtf8}},
      {u"/c:bin/k:url", {.kind = 4, .charset = kCharsetBin}},
      {u"/c:SJIS", {.result = kRejected}},
      {u"/c:Bin", {.result = kRejected}},
      {u"/c:utf-8", {.result = kRejected}},
      {u"/c:utf16", {.result = kRejected}},
      {u"/c:uni", {.result = kRejected}},
      {u"/c:binary", {.result = kRejected, .charset = kCharsetBin}},
  });
}

TEST(ParseCommandLineTest, QuotedPaths) {
  CheckAll({
      {u"/o:\"\\My Documents\\month list.csv\"", {.path = u"\\My Documents\\month list.csv"}},
      {u"/o:\"a b\" /k:url", {.kind = 4, .path = u"a b"}},
      // After the closing quote the text is examined as between options.
      {u"/o:\"a b\"/k:url", {.kind = 4, .path = u"a b"}},
      {u"/o:\"a b\"c", {.result = kRejected, .path = u"a b"}},
      {u"/o:\"\"", {.path = u""}},
      {u"/o:\"\" /k:nowtime", {.kind = 5, .path = u""}},
      // A quoted path without its closing quote is dropped.
      {u"/o:\"a b", {}},
      {u"/o:\"", {}},
      {u"/o:x.csv /o:\"unfinished", {.path = u"x.csv"}},
  });
}

TEST(ParseCommandLineTest, UnquotedPaths) {
  CheckAll({
      {u"/o:\\Temp\\x.csv", {.path = u"\\Temp\\x.csv"}},
      {u"/o:x.csv /k:url", {.kind = 4, .path = u"x.csv"}},
      {u"/o:a\"b", {.path = u"a\"b"}},
      {u"/o:a/k:url", {.path = u"a/k:url"}},
      {u"/o:a.csv /o:b.csv", {.path = u"b.csv"}},
      // A blank right after the prefix is the path's first character.
      {u"/o: word", {.path = u" word"}},
      {u"/o: ", {.path = u" "}},
      {u"/o: word /k:url", {.kind = 4, .path = u" word"}},
      // The path ends at its first blank; the rest must parse as options.
      {u"/o:\\My Documents\\monthlist.csv", {.result = kRejected, .path = u"\\My"}},
  });
}

TEST(ParseCommandLineTest, LongPathsAreCutTo259Characters) {
  const std::u16string p259(259, u'p');
  const std::u16string p260 = p259 + u"q";
  const std::u16string p300 = p259 + std::u16string(41, u'r');
  CheckAll({
      {u"/o:" + p259, {.path = p259}},
      {u"/o:" + p260, {.path = p259}},
      {u"/o:" + p300, {.path = p259}},
      {u"/o:" + p300 + u" /k:url", {.kind = 4, .path = p259}},
      {u"/o:\"" + p300 + u"\"", {.path = p259}},
      {u"/o:\"" + p300 + u"\" /k:url", {.kind = 4, .path = p259}},
  });
}

TEST(ParseCommandLineTest, EndOfTextRules) {
  CheckAll({
      // A bare prefix at the end changes nothing ...
      {u"/k:", {}},
      {u"/d:", {}},
      {u"/c:", {}},
      {u"/o:", {}},
      {u"/k:url /o:", {.kind = 4}},
      // ... except /u:, whose empty value is completed.
      {u"/u:", {.url = u""}},
      // A URL, an unquoted path and a month run to the end.
      {u"/u:http://h/x", {.url = u"http://h/x"}},
      {u"/o:x.csv", {.path = u"x.csv"}},
      {u"/d:2008/5", {.year = 2008, .month = 5}},
      // A year without a separator is dropped; after the separator it is kept.
      {u"/d:2008", {}},
      {u"/d:2008/", {.year = 2008}},
      {u"/d:2008-", {.year = 2008}},
      // A quoted path without its closing quote is dropped.
      {u"/o:\"abc", {}},
  });
}

TEST(ParseCommandLineTest, UsageExampleAndSpacedOptions) {
  CheckAll({
      {u"/k:comic-ta /d:now /o:\"\\My Documents\\monthlist.csv\"", {.path = kDefaultPath}},
      {u"/k:comic-ta /d:now /o:\"\\My Documents\\other.csv\"",
       {.path = u"\\My Documents\\other.csv"}},
  });
}

TEST(ParseCommandLineTest, NonAsciiValues) {
  CheckAll({
      {u"/o:\"\\My Documents\\新刊 一覧.csv\"", {.path = u"\\My Documents\\新刊 一覧.csv"}},
      {u"/u:http://h/検索?q=本", {.url = u"http://h/検索?q=本"}},
  });
}

// Allocations the parser makes, numbered from the test's start: year copy,
// month copy, URL copy, in the order of the text.
class ParseAllocationTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetAllocationFailureForTesting(0); }

  void CheckWithFailure(unsigned long failAt, const std::u16string& text, const Expected& e) {
    SCOPED_TRACE("allocation " + std::to_string(failAt) + " fails");
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(failAt);
    Check(text, e);
    platform::SetAllocationFailureForTesting(0);
  }
};

TEST_F(ParseAllocationTest, EachCopyThatCannotBeAllocatedRejects) {
  const std::u16string text = u"/k:url /d:2008/12 /u:http://h/ /o:x.csv";
  CheckWithFailure(1, text, {.result = kRejected, .kind = 4});
  CheckWithFailure(2, text, {.result = kRejected, .kind = 4, .year = 2008});
  CheckWithFailure(3, text, {.result = kRejected, .kind = 4, .year = 2008, .month = 12});
  // The fourth allocation is never asked for.
  CheckWithFailure(4, text,
                   {.kind = 4, .year = 2008, .month = 12, .url = u"http://h/", .path = u"x.csv"});
}

TEST_F(ParseAllocationTest, CopiesAtTheEndOfTheText) {
  CheckWithFailure(1, u"/u:http://h/", {.result = kRejected});
  CheckWithFailure(2, u"/d:2008/12", {.result = kRejected, .year = 2008});
}

}  // namespace
