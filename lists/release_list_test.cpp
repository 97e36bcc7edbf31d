// The release-list parsers, one row per rule of the scan. Pages are in UTF-8, ␣ for U+3000.
#include "lists/release_list.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "platform/memory.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

using Parser = int (*)(LPCWSTR, LPCWSTR, WORD);
constexpr Parser kComic = ParseComicList, kBunko = ParseBunkoList;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
  return text;
}

// An entry as the shop writes it: each field followed by two U+3000.
std::string Entry(std::initializer_list<std::string> fields, const std::string& close = "</li>") {
  std::string entry = "<li>";
  for (const std::string& field : fields) entry += field + "␣␣";
  return entry + close + "\n";
}

const std::string kMarker = "件を表示します。";
const std::string kM = Entry({"1", "P", "T", "A", "1", "M"});
const std::string kB = Entry({"1", "P", "C", "T", "A", "1"}, "");

class ReleaseListTest : public ::testing::Test {
 protected:
  int Parse(Parser parser, const std::string& page) {
    return parser(Utf16(Replaced(page, "␣", "\u3000")).c_str(), Utf16(path_).c_str(), year_);
  }
  // Parses `page` for `result` and a file of the header, then `lines` ('|' between them).
  void Expect(Parser parser, const std::string& page, int result, const std::string& lines) {
    SCOPED_TRACE(page.substr(0, 120));
    EXPECT_EQ(Parse(parser, page), result);
    const std::string header = parser == kComic ? "date,company,title,author,price,memo"
                                                : "date,company,category,title,author,price";
    EXPECT_EQ(ReadFileBytes(path_),
              Cp932(Replaced(header + "|" + lines + (lines.empty() ? "" : "|"), "|", "\r\n")));
  }

  WORD year_ = 2008;  // of the list asked for
  TempFolder folder_;
  std::string path_ = folder_.Join("monthlist.csv");
};

TEST_F(ReleaseListTest, EveryRuleOfTheScan) {
  const std::string kLong(979, 'u');  // the longest title of a line of 999 below
  const std::tuple<std::string, Parser, int, std::string> rows[] = {
      {"", kComic, 0, ""},
      {kMarker + "<li>1", kComic, 0, ""},   // the text ends in a date (or behind its one U+3000),
      {kMarker + "<li>1␣", kComic, 0, ""},  // or in a field
      {kMarker + "<li>1␣␣P", kBunko, 0, ""},
      {"<ul>" + kM, kComic, 0, ""},  // no marker, no list
      {"<p>全3件中 " + kMarker + "</p><ul>" +
           Entry({"12/05", "講談社", "はじめの一歩", "森川", "\\440", "限定"}) + "</ul></table>",
       kComic, 0, "2008/12/05,講談社,はじめの一歩,森川,440,限定"},
      // A comic entry is written at "</li>", dropped at "</table>" or the text's end; between
      // entries only "<li>" is looked for.
      {kMarker + kM + "</table>" + kM + "<li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</l", kComic, 0,
       "2008/1,P,T,A,1,M|2008/1,P,T,A,1,M"},
      {kMarker + kM + "<li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</table></li>" + kM, kComic, 0, "2008/1,P,T,A,1,M"},
      // A paperback entry ends at the next "<li>" or at "</table>"; "</li>" is text.
      {kMarker + kB + Entry({"2", "角川", "ミステリ", "T", "A", "\\7"}) + "</table>" + kB, kBunko,
       0, "2008/1,P,C,T,A,1|2008/2,角川,ミステリ,T,A,7"},
      {kMarker + kB + Entry({"2", "P", "C", "T", "A", "2"}), kBunko, 0, "2008/1,P,C,T,A,1"},
      // One U+3000 stays in a field, a third opens the next, four leave one (or the date) empty.
      {kMarker + "<li>1␣␣P␣Q␣␣␣T␣␣A␣␣1␣␣M␣␣</li><li>␣␣P␣␣␣␣A␣␣1␣␣␣␣</li>", kComic, 0,
       "2008/1,P　Q,　T,A,1,M|2008/,P,,A,1,"},
      // Only the price loses one leading backslash (a comic's fourth field, a paperback's fifth).
      {kMarker + "<li>1␣␣\\P␣␣\\T␣␣\\A␣␣\\\\440␣␣\\M␣␣</li><li>2␣␣P␣␣T␣␣A␣␣￥440␣␣M␣␣</"
                 "li><li>3␣␣P␣␣T␣␣A␣␣\\␣␣M␣␣</li>",
       kComic, 0, "2008/1,\\P,\\T,\\A,\\440,\\M|2008/2,P,T,A,￥440,M|2008/3,P,T,A,,M"},
      {kMarker + "<li>1␣␣\\P␣␣\\C␣␣\\T␣␣\\A␣␣\\\\420␣␣</table>", kBunko, 0,
       "2008/1,\\P,\\C,\\T,\\A,\\420"},
      // Only the exact tags after the first marker count; fields are copied as they are.
      {kM + kMarker + "<LI>1␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</LI><li class=\"x\">2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</li>" +
           Entry({"4", kMarker, "<b>T</b>", "&amp;A", "1", "\"M,Q\""}),
       kComic, 0, "2008/4," + kMarker + ",<b>T</b>,&amp;A,1,\"M,Q\""},
      // Fields are counted by separators only: missing ones come from the following text.
      {kMarker + Entry({"1", "P", "T", "A"}) + Entry({"2", "Q", "U", "B", "1", "M"}) + kM, kComic,
       0, "2008/1,P,T,A,</li>\n<li>2,Q|2008/1,P,T,A,1,M"},
      // A date not closed by two U+3000 stops the scan in error; the records before stay.
      {kMarker + kM + "<li>お問い合わせ␣はこちら</li>" + kM, kComic, kListStoppedInError,
       "2008/1,P,T,A,1,M"},
      {kMarker + kB + "<li>12/05␣x␣␣</table>", kBunko, kListStoppedInError, "2008/1,P,C,T,A,1"},
      // The date keeps 6 characters; a line, 999.
      {kMarker + Entry({"12/31x", "P", kLong, "A", "1", "M"}) +
           Entry({"12/31xy", "P", kLong + "u", "A", "1", "M"}),
       kComic, 0, "2008/12/31x,P," + kLong + ",A,1,M|2008/12/31x,P," + kLong + "u,A,1,"},
  };
  for (const auto& [page, parser, result, lines] : rows) Expect(parser, page, result, lines);
  // The year is the list's, whatever the clock says; a fifth digit leaves five for the date.
  FixedClock december;
  year_ = 2009;
  Expect(kComic, kMarker + kM, 0, "2009/1,P,T,A,1,M");
  year_ = 65535;
  Expect(kBunko, kMarker + Entry({"12/31x", "P", "C", "T", "A", "1"}, "</table>"), 0,
         "65535/12/31,P,C,T,A,1");
}

// Each allocation of a scan that stops in error failing in turn: a line not written keeps the
// old file, and a field not had ends the scan there, with the lines before it.
TEST_F(ReleaseListTest, AFileThatIsNotCompleteIsNotPutInPlace) {
  const std::string page = kMarker + kB + Entry({"2", "Q", "C", "T", "A", "2"}, "") + "<li>2␣x";
  Expect(kBunko, page, kListStoppedInError, "2008/1,P,C,T,A,1|2008/2,Q,C,T,A,2");
  std::string file, whole = ReadFileBytes(path_).value_or("");
  for (unsigned long n = 1; file != whole; ++n) {  // until nothing fails
    ASSERT_TRUE(WriteFileBytes(path_, "old"));
    platform::SetAllocationFailureForTesting(platform::AllocationCountForTesting() + n);
    const int result = Parse(kBunko, page);
    platform::SetAllocationFailureForTesting(0);
    file = ReadFileBytes(path_).value_or("");
    ASSERT_TRUE(result == kListStoppedInError ? whole.starts_with(file) && file.ends_with("\r\n")
                                              : result != kListParsed && file == "old")
        << n;
  }
  path_ = folder_.Join("no such folder/list.csv");
  EXPECT_EQ(Parse(kComic, page), kListFileNotCreated);
  EXPECT_EQ(folder_.List(), std::vector<std::string>{"monthlist.csv"});  // nothing made or left
}

}  // namespace
}  // namespace zemlik::test
