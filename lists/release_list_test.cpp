#include "lists/release_list.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "platform/time.h"
#include "tests/support/cp932.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::ReadFileBytes;
using zemlik::testing::TempFolder;
using zemlik::testing::Utf16;
using zemlik::testing::WString;

// Pages are written in UTF-8 here, with ␣ standing for U+3000 (the shop's
// separator is two of them).
WString PageText(const std::string& utf8) {
  std::string out;
  const std::string mark = "␣";
  for (std::size_t i = 0; i < utf8.size();) {
    if (utf8.compare(i, mark.size(), mark) == 0) {
      out += "\u3000";
      i += mark.size();
    } else {
      out += utf8[i++];
    }
  }
  return Utf16(out);
}

// One entry as the shop writes it: each field followed by two U+3000.
std::string Entry(std::initializer_list<std::string> fields, const std::string& close = "</li>") {
  std::string entry = "<li>";
  for (const auto& field : fields) entry += field + "␣␣";
  return entry + close + "\n";
}

std::string Page(const std::string& entries) {
  return "<html><head><title>新刊案内</title></head><body>\n"
         "<p>全3件を表示します。</p>\n<table><tr><td><ul>\n" +
         entries + "</ul></td></tr></table>\n<p>ページの先頭へ</p></body></html>\n";
}

// The expected file: code page 932 lines, each ended by CR LF.
std::string Cp932Lines(std::initializer_list<std::string> utf8Lines) {
  std::string utf8;
  for (const auto& line : utf8Lines) utf8 += line + "\r\n";
  return zemlik::testing::Cp932(utf8);
}

constexpr char kComicHeader[] = "date,company,title,author,price,memo";
constexpr char kBunkoHeader[] = "date,company,category,title,author,price";

class FixedClock : public platform::Clock {
 public:
  FixedClock(WORD year, WORD month) : year_(year), month_(month) {}
  void Now(SYSTEMTIME* out) override {
    ++reads;
    *out = SYSTEMTIME{year_, month_, 0, 21, 3, 3, 17, 0};
  }
  int reads = 0;

 private:
  WORD year_;
  WORD month_;
};

using Parser = int (*)(LPCWSTR, LPCWSTR);

class ReleaseListTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetClockForTesting(&clock_); }
  void TearDown() override {
    platform::SetClockForTesting(nullptr);
    platform::SetAllocationFailureForTesting(0);
  }

  // Parses `page` into a fresh file of the temporary folder; returns the result
  // and leaves the file's bytes in `file_`.
  int Parse(Parser parser, const std::string& page) {
    const std::string path = folder_.Join("monthlist.csv");
    const int result = parser(PageText(page).c_str(), Utf16(path).c_str());
    file_ = ReadFileBytes(path).value_or("<no file>");
    return result;
  }

  FixedClock clock_{2008, 12};
  TempFolder folder_;
  std::string file_;
};

using ComicList = ReleaseListTest;
using BunkoList = ReleaseListTest;

TEST_F(ComicList, WritesHeaderAndOneLinePerEntry) {
  const std::string page =
      Page(Entry({"12/05", "講談社", "はじめの一歩␣第87巻", "森川ジョージ", "\\440", "初回限定"}) +
           Entry({"12/09", "集英社", "ONE PIECE 52", "尾田栄一郎", "\\420", ""}));
  EXPECT_EQ(0, Parse(ParseComicList, page));
  EXPECT_EQ(Cp932Lines({kComicHeader,
                        "2008/12/05,講談社,はじめの一歩\u3000第87巻,森川ジョージ,440,初回限定",
                        "2008/12/09,集英社,ONE PIECE 52,尾田栄一郎,420,"}),
            file_);
}

TEST_F(ComicList, EmptyTextOrNoMarkerGivesHeaderOnly) {
  EXPECT_EQ(0, Parse(ParseComicList, ""));
  EXPECT_EQ(Cp932Lines({kComicHeader}), file_);
  EXPECT_EQ(0, Parse(ParseComicList, "<ul>" + Entry({"12/05", "P", "T", "A", "1", "M"})));
  EXPECT_EQ(Cp932Lines({kComicHeader}), file_);
}

TEST_F(ComicList, ClosingRules) {
  // An entry is written at its "</li>"; one the text ends in is dropped.
  EXPECT_EQ(0, Parse(ParseComicList, "件を表示します。" + Entry({"1", "P", "T", "A", "1", "M"}) +
                                         "<li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</l"));
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/1,P,T,A,1,M"}), file_);

  // "</table>" after a complete entry but before its "</li>" drops it and ends the
  // scan: nothing behind it is read.
  EXPECT_EQ(0, Parse(ParseComicList, "件を表示します。" + Entry({"1", "P", "T", "A", "1", "M"}) +
                                         "<li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</table></li>\n" +
                                         Entry({"3", "P", "T", "A", "1", "M"})));
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/1,P,T,A,1,M"}), file_);

  // Behind "</li>" the parser looks for "<li>" again, never for "</table>".
  EXPECT_EQ(0, Parse(ParseComicList, "件を表示します。" + Entry({"1", "P", "T", "A", "1", "M"}) +
                                         "</table>" + Entry({"2", "P", "T", "A", "1", "M"})));
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/1,P,T,A,1,M", "2008/2,P,T,A,1,M"}), file_);
}

TEST_F(BunkoList, ClosingRules) {
  // Entries end at the next "<li>"; "</li>" is ordinary text skipped in state 1000;
  // "</table>" writes the last entry and ends the scan.
  const std::string page =
      Page(Entry({"12/10", "新潮社", "文芸", "坊っちゃん", "夏目漱石", "\\420"}) +
           Entry({"12/10", "角川書店", "ミステリ", "犬神家の一族", "横溝正史", "\\700"}, "")) +
      Entry({"12/20", "P", "C", "T", "A", "1"});
  EXPECT_EQ(0, Parse(ParseBunkoList, page));
  EXPECT_EQ(Cp932Lines({kBunkoHeader, "2008/12/10,新潮社,文芸,坊っちゃん,夏目漱石,420",
                        "2008/12/10,角川書店,ミステリ,犬神家の一族,横溝正史,700"}),
            file_);

  // The text ends behind a complete entry with neither "<li>" nor "</table>".
  EXPECT_EQ(0, Parse(ParseBunkoList, "件を表示します。" + Entry({"1", "P", "C", "T", "A", "1"}) +
                                         Entry({"2", "P", "C", "T", "A", "2"})));
  EXPECT_EQ(Cp932Lines({kBunkoHeader, "2008/1,P,C,T,A,1"}), file_);
}

TEST_F(ComicList, SeparatorCases) {
  const std::string page =
      "件を表示します。"
      // One U+3000 stays in the field; three: the third opens the next field.
      "<li>1␣␣P␣Q␣␣␣T␣␣A␣␣1␣␣M␣␣</li>"
      // Four: the next field is empty.
      "<li>2␣␣P␣␣␣␣A␣␣1␣␣M␣␣</li>"
      // An empty date leaves the year prefix alone.
      "<li>␣␣P␣␣T␣␣A␣␣1␣␣␣␣</li>";
  EXPECT_EQ(0, Parse(ParseComicList, page));
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/1,P\u3000Q,\u3000T,A,1,M", "2008/2,P,,A,1,M",
                        "2008/,P,T,A,1,"}),
            file_);
}

TEST_F(ComicList, PriceLosesOneLeadingBackslashOnly) {
  const std::string page =
      "件を表示します。"
      "<li>1␣␣\\P␣␣\\T␣␣\\A␣␣\\\\440␣␣\\M␣␣</li>"
      "<li>2␣␣P␣␣T␣␣A␣␣￥440␣␣M␣␣</li>"
      "<li>3␣␣P␣␣T␣␣A␣␣4\\40␣␣M␣␣</li>"
      "<li>4␣␣P␣␣T␣␣A␣␣\\␣␣M␣␣</li>";
  EXPECT_EQ(0, Parse(ParseComicList, page));
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/1,\\P,\\T,\\A,\\440,\\M", "2008/2,P,T,A,￥440,M",
                        "2008/3,P,T,A,4\\40,M", "2008/4,P,T,A,,M"}),
            file_);
}

TEST_F(BunkoList, PriceIsTheLastField) {
  const std::string page =
      "件を表示します。"
      "<li>1␣␣\\P␣␣\\C␣␣\\T␣␣\\A␣␣\\\\420␣␣"
      "<li>2␣␣P␣␣C␣␣T␣␣A␣␣￥420␣␣</table>";
  EXPECT_EQ(0, Parse(ParseBunkoList, page));
  EXPECT_EQ(Cp932Lines({kBunkoHeader, "2008/1,\\P,\\C,\\T,\\A,\\420", "2008/2,P,C,T,A,￥420"}),
            file_);
}

TEST_F(ComicList, OnlyTheExactTagsAfterTheMarkerCount) {
  const std::string page = Entry({"0", "before", "the", "marker", "1", "M"}) +
                           "件を表示します。"
                           "<LI>1␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</LI>"
                           "<li class=\"new\">2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</li>"
                           "<li >3␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</li>"
                           // A second marker is ordinary text.
                           "<li>4␣␣件を表示します。␣␣T␣␣A␣␣1␣␣M␣␣</li>"
                           // Commas and markup inside a field are copied as they are.
                           "<li>5␣␣P,Q␣␣<b>T</b>␣␣&amp;A␣␣1␣␣\"M\"␣␣</li>";
  EXPECT_EQ(0, Parse(ParseComicList, page));
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/4,件を表示します。,T,A,1,M",
                        "2008/5,P,Q,<b>T</b>,&amp;A,1,\"M\""}),
            file_);
}

TEST_F(ComicList, MissingFieldsAreTakenFromTheFollowingText) {
  const std::string page = "件を表示します。" + Entry({"1", "P", "T", "A"}) +
                           Entry({"2", "P2", "T2", "A2", "1", "M"}) +
                           Entry({"3", "P3", "T3", "A3", "3", "M3"});
  EXPECT_EQ(0, Parse(ParseComicList, page));
  // The price runs across "</li>" and "<li>"; the rest of entry 2 is skipped up to its
  // "</li>".
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/1,P,T,A,</li>\n<li>2,P2", "2008/3,P3,T3,A3,3,M3"}),
            file_);
}

TEST_F(ComicList, DateNotFollowedBySeparatorStopsWithEarlierRecordsKept) {
  // A later "<li>" of the page footer opens an entry whose first U+3000 is single.
  const std::string page = Page(Entry({"1", "P", "T", "A", "1", "M"})) +
                           "<ul><li>お問い合わせ␣はこちら</li><li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</li></ul>";
  EXPECT_EQ(-101, Parse(ParseComicList, page));
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/1,P,T,A,1,M"}), file_);

  EXPECT_EQ(-101,
            Parse(ParseBunkoList, "件を表示します。" + Entry({"1", "P", "C", "T", "A", "1"}, "") +
                                      "<li>12/05␣x␣␣P␣␣C␣␣T␣␣A␣␣1␣␣</table>"));
  EXPECT_EQ(Cp932Lines({kBunkoHeader, "2008/1,P,C,T,A,1"}), file_);
}

// Allocations numbered from 1 from the reset; the call's total for `page`.
unsigned long AllocationsOfCall(Parser parser, const WString& page, LPCWSTR path) {
  platform::ResetAllocationCountForTesting();
  parser(page.c_str(), path);
  return platform::AllocationCountForTesting();
}

TEST_F(ReleaseListTest, NoMemoryForAFieldStopsWithEarlierRecordsKept) {
  struct Case {
    Parser parser;
    const char* header;
    std::string done;  // one complete entry
    std::string doneRecord;
    std::string fields;  // the next entry's fields after its date, in page order
    std::string tail;
  };
  const Case cases[] = {
      {ParseComicList, kComicHeader, Entry({"1", "P", "T", "A", "1", "M"}), "2008/1,P,T,A,1,M",
       "P␣␣T␣␣A␣␣1␣␣M␣␣", "</li>"},
      {ParseBunkoList, kBunkoHeader, Entry({"1", "P", "C", "T", "A", "1"}, ""), "2008/1,P,C,T,A,1",
       "P␣␣C␣␣T␣␣A␣␣1␣␣", "</table>"},
  };
  const std::string path = folder_.Join("monthlist.csv");
  for (const Case& c : cases) {
    // Everything up to the capture of the second entry's first field.
    const std::string before = "件を表示します。" + c.done + "<li>2␣␣";
    const unsigned long made = AllocationsOfCall(c.parser, PageText(before), Utf16(path).c_str());
    // The five captures are the next five allocations; each one failing stops the scan.
    for (unsigned long capture = 1; capture <= 5; ++capture) {
      SCOPED_TRACE(testing::Message() << c.header << " capture " << capture);
      platform::ResetAllocationCountForTesting();
      platform::SetAllocationFailureForTesting(made + capture);
      EXPECT_EQ(-101, Parse(c.parser, before + c.fields + c.tail));
      platform::SetAllocationFailureForTesting(0);
      EXPECT_EQ(Cp932Lines({c.header, c.doneRecord}), file_);
    }
  }
}

TEST_F(ReleaseListTest, ARecordNotWrittenGives102AndKeepsTheOldFile) {
  // WriteLine cannot convert record 1 (no memory for its buffer); the scan goes on, but the
  // file is incomplete, also when the page then stops in error.
  const std::string path = folder_.Join("monthlist.csv");
  const std::string open = "件を表示します。<li>1␣␣P␣␣C␣␣T␣␣A␣␣1␣␣";
  const unsigned long made = AllocationsOfCall(ParseBunkoList, PageText(open), Utf16(path).c_str());
  for (const std::string& rest :
       {Entry({"2", "P", "C", "T", "A", "2"}, "</table>"), std::string("<li>2␣x")}) {
    ASSERT_TRUE(zemlik::testing::WriteFileBytes(path, "old"));
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(made + 1);
    EXPECT_EQ(102, Parse(ParseBunkoList, open + rest));
    EXPECT_EQ("old", file_);
    EXPECT_EQ(folder_.List(), std::vector<std::string>{"monthlist.csv"});
  }
}

TEST_F(ComicList, YearPrefixIsTheClockYearReadOnce) {
  // A January list fetched in December carries the December year.
  const std::string page = "件を表示します。" + Entry({"1/10", "P", "T", "A", "1", "M"}) +
                           Entry({"1/20", "P", "T", "A", "1", "M"});
  EXPECT_EQ(0, Parse(ParseComicList, page));
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/1/10,P,T,A,1,M", "2008/1/20,P,T,A,1,M"}), file_);
  EXPECT_EQ(1, clock_.reads);

  FixedClock january(2009, 1);
  platform::SetClockForTesting(&january);
  EXPECT_EQ(0, Parse(ParseComicList, page));
  EXPECT_EQ(Cp932Lines({kComicHeader, "2009/1/10,P,T,A,1,M", "2009/1/20,P,T,A,1,M"}), file_);
}

TEST_F(ComicList, LongDatesAndLinesAreCut) {
  // Date: 6 characters fit behind the prefix, a seventh is cut.
  // Line: prefix, date "12/01" and the other columns make 19 + title characters.
  const std::string title980(980, 't');
  const std::string title981(981, 'u');
  const std::string page =
      "件を表示します。" + Entry({"12/31x", "P", "T", "A", "1", "M"}) +
      Entry({"12/31xy", "P", "T", "A", "1", "M"}) + Entry({"12/01", "C", title980, "A", "1", "M"}) +
      Entry({"12/01", "C", title981, "A", "1", "M"}) + Entry({"12/02", "P", "T", "A", "1", "M"});
  EXPECT_EQ(0, Parse(ParseComicList, page));
  const std::string line999 = "2008/12/01,C," + title980 + ",A,1,M";
  ASSERT_EQ(999u, line999.size());
  const std::string line1000 = "2008/12/01,C," + title981 + ",A,1,M";
  EXPECT_EQ(Cp932Lines({kComicHeader, "2008/12/31x,P,T,A,1,M", "2008/12/31x,P,T,A,1,M", line999,
                        line1000.substr(0, 999), "2008/12/02,P,T,A,1,M"}),
            file_);
}

TEST_F(ReleaseListTest, AFileThatCannotBeCreatedGives101) {
  const WString page = PageText(Page(Entry({"1", "P", "T", "A", "1", "M"})));
  const WString missing = Utf16(folder_.Join("no such folder/monthlist.csv"));
  EXPECT_EQ(101, ParseComicList(page.c_str(), missing.c_str()));
  EXPECT_EQ(101, ParseBunkoList(page.c_str(), missing.c_str()));
  EXPECT_TRUE(folder_.List().empty());
}

TEST_F(ReleaseListTest, ReplacesAnExistingFile) {
  const std::string path = folder_.Join("monthlist.csv");
  ASSERT_TRUE(zemlik::testing::WriteFileBytes(path, std::string(5000, 'x')));
  EXPECT_EQ(0, Parse(ParseBunkoList, ""));
  EXPECT_EQ(Cp932Lines({kBunkoHeader}), file_);
}

}  // namespace
