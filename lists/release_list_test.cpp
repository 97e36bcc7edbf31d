// The release-list parsers: one row per rule of the scan, each page with the lines it
// must give. Pages are written in UTF-8 with ␣ for U+3000, the shop's separator being two.
#include "lists/release_list.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "platform/memory.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

using Parser = int (*)(LPCWSTR, LPCWSTR);

WString PageText(const std::string& utf8) {
  std::string out;
  for (size_t at = 0; at < utf8.size();) {
    const bool mark = utf8.compare(at, 3, "␣") == 0;
    out += mark ? "\u3000" : utf8.substr(at, 1);
    at += mark ? 3 : 1;
  }
  return Utf16(out);
}

// An entry as the shop writes it: each field followed by two U+3000.
std::string Entry(std::initializer_list<std::string> fields, const std::string& close = "</li>") {
  std::string entry = "<li>";
  for (const std::string& field : fields) entry += field + "␣␣";
  return entry + close + "\n";
}

const std::string kMarker = "件を表示します。";
const std::string kComic = "date,company,title,author,price,memo";
const std::string kBunko = "date,company,category,title,author,price";
const std::string kM = Entry({"1", "P", "T", "A", "1", "M"});
const std::string kB = Entry({"1", "P", "C", "T", "A", "1"}, "");

class ReleaseListTest : public ::testing::Test {
 protected:
  // Parses `page` into a file of the folder; the file's lines, header first.
  int Parse(Parser parser, const std::string& page, std::string* file) {
    const int result = parser(PageText(page).c_str(), Utf16(path_).c_str());
    *file = ReadFileBytes(path_).value_or("<no file>");
    return result;
  }

  FixedClock clock_;
  TempFolder folder_;
  std::string path_ = folder_.Join("monthlist.csv");
};

TEST_F(ReleaseListTest, EveryRuleOfTheScan) {
  const std::string kLong(981, 'u');
  // The parser, the page, the result and the lines behind the header, '|' between them.
  const std::tuple<Parser, std::string, int, std::string> rows[] = {
      {ParseComicList, "", 0, ""},
      {ParseComicList, "<ul>" + kM, 0, ""},  // no marker, no list
      {ParseComicList,
       "<p>全3件中 " + kMarker + "</p><ul>" +
           Entry({"12/05", "講談社", "はじめの一歩␣第87巻", "森川", "\\440", "初回限定"}) +
           Entry({"12/09", "集英社", "ONE PIECE 52", "尾田", "\\420", ""}) + "</ul></table>",
       0,
       "2008/12/05,講談社,はじめの一歩　第87巻,森川,440,初回限定|2008/12/09,集英社,ONE PIECE "
       "52,尾田,420,"},
      // A comic entry is written at its "</li>"; one the text ends in is dropped, as is one
      // that "</table>" ends; behind "</li>" only "<li>" is looked for.
      {ParseComicList, kMarker + kM + "<li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</l", 0, "2008/1,P,T,A,1,M"},
      {ParseComicList, kMarker + kM + "<li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</table></li>" + kM, 0,
       "2008/1,P,T,A,1,M"},
      {ParseComicList, kMarker + kM + "</table>" + kM, 0, "2008/1,P,T,A,1,M|2008/1,P,T,A,1,M"},
      // A paperback entry ends at the next "<li>" or at "</table>"; "</li>" is text.
      {ParseBunkoList,
       kMarker + kB + Entry({"2", "角川", "ミステリ", "T", "A", "\\700"}) + "</table>" + kB, 0,
       "2008/1,P,C,T,A,1|2008/2,角川,ミステリ,T,A,700"},
      {ParseBunkoList, kMarker + kB + Entry({"2", "P", "C", "T", "A", "2"}), 0, "2008/1,P,C,T,A,1"},
      // One U+3000 stays in a field; a third opens the next field; four leave one empty;
      // an empty date is the year prefix alone.
      {ParseComicList,
       kMarker +
           "<li>1␣␣P␣Q␣␣␣T␣␣A␣␣1␣␣M␣␣</li><li>2␣␣P␣␣␣␣A␣␣1␣␣M␣␣</li><li>␣␣P␣␣T␣␣A␣␣1␣␣␣␣</li>",
       0, "2008/1,P　Q,　T,A,1,M|2008/2,P,,A,1,M|2008/,P,T,A,1,"},
      // The price alone loses one leading backslash: the fourth field of a comic entry,
      // the fifth and last of a paperback one.
      {ParseComicList,
       kMarker + "<li>1␣␣\\P␣␣\\T␣␣\\A␣␣\\\\440␣␣\\M␣␣</li><li>2␣␣P␣␣T␣␣A␣␣￥440␣␣M␣␣</"
                 "li><li>3␣␣P␣␣T␣␣A␣␣\\␣␣M␣␣</li>",
       0, "2008/1,\\P,\\T,\\A,\\440,\\M|2008/2,P,T,A,￥440,M|2008/3,P,T,A,,M"},
      {ParseBunkoList, kMarker + "<li>1␣␣\\P␣␣\\C␣␣\\T␣␣\\A␣␣\\\\420␣␣</table>", 0,
       "2008/1,\\P,\\C,\\T,\\A,\\420"},
      // Only the exact tags after the first marker count; fields are copied as they are.
      {ParseComicList,
       kM + kMarker + "<LI>1␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</LI><li class=\"x\">2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</li><li>4␣␣" +
           kMarker + "␣␣T␣␣A␣␣1␣␣M␣␣</li><li>5␣␣P,Q␣␣<b>T</b>␣␣&amp;A␣␣1␣␣\"M\"␣␣</li>",
       0, "2008/4," + kMarker + ",T,A,1,M|2008/5,P,Q,<b>T</b>,&amp;A,1,\"M\""},
      // Fields are counted by separators only: missing ones come from the following text.
      {ParseComicList,
       kMarker + Entry({"1", "P", "T", "A"}) + Entry({"2", "P2", "T2", "A2", "1", "M"}) + kM, 0,
       "2008/1,P,T,A,</li>\n<li>2,P2|2008/1,P,T,A,1,M"},
      // A date not closed by two U+3000 stops the scan in error; the records before stay.
      {ParseComicList, kMarker + kM + "<li>お問い合わせ␣はこちら</li>" + kM, -101,
       "2008/1,P,T,A,1,M"},
      {ParseBunkoList, kMarker + kB + "<li>12/05␣x␣␣</table>", -101, "2008/1,P,C,T,A,1"},
      // The date keeps 6 characters; a line, 999.
      {ParseComicList,
       kMarker + Entry({"12/31x", "P", "T", "A", "1", "M"}) +
           Entry({"12/31xy", "P", "T", "A", "1", "M"}) +
           Entry({"12/01", "C", kLong.substr(1), "A", "1", "M"}) +
           Entry({"12/01", "C", kLong, "A", "1", "M"}),
       0,
       "2008/12/31x,P,T,A,1,M|2008/12/31x,P,T,A,1,M|2008/12/01,C," + kLong.substr(1) + ",A,1,M|" +
           ("2008/12/01,C," + kLong + ",A,1,M").substr(0, 999)},
  };
  for (const auto& [parser, page, result, lines] : rows) {
    SCOPED_TRACE(page.substr(0, 120));
    std::string file, expected = (parser == ParseComicList ? kComic : kBunko) + "|" + lines;
    EXPECT_EQ(Parse(parser, page, &file), result);
    for (size_t bar; (bar = expected.find('|')) != std::string::npos;)
      expected.replace(bar, 1, "\r\n");
    EXPECT_EQ(file, Cp932(expected + (lines.empty() ? "" : "\r\n")));
  }
  EXPECT_EQ(clock_.reads, static_cast<int>(std::size(rows)));  // once a call
}

TEST_F(ReleaseListTest, TheYearPrefixIsTheClocksNotTheLists) {
  FixedClock january({2009, 1, 0, 1, 0, 0, 0, 0});
  std::string file;
  EXPECT_EQ(Parse(ParseComicList, kMarker + Entry({"12/30", "P", "T", "A", "1", "M"}), &file), 0);
  EXPECT_EQ(file, Cp932(kComic + "\r\n2009/12/30,P,T,A,1,M\r\n"));
}

// The file is put in place at the end: a line that cannot be written keeps the old one,
// also when the scan then stops in error, and no file replaces it where it cannot be made.
TEST_F(ReleaseListTest, AFileThatIsNotCompleteIsNotPutInPlace) {
  const WString page = PageText(kMarker + kB + "<li>2␣x");
  platform::ResetAllocationCountForTesting();
  ParseBunkoList(page.c_str(), Utf16(path_).c_str());
  const unsigned long made = platform::AllocationCountForTesting();
  std::string file;
  for (unsigned long failing : {1ul, made}) {  // the header line's buffer, the record line's
    ASSERT_TRUE(WriteFileBytes(path_, "old"));
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(failing);
    EXPECT_EQ(Parse(ParseBunkoList, kMarker + kB + "<li>2␣x", &file), 102);
    platform::SetAllocationFailureForTesting(0);
    EXPECT_EQ(file, "old");
  }
  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(2);  // the first field
  EXPECT_EQ(Parse(ParseBunkoList, kMarker + kB + "</table>", &file), -101);
  platform::SetAllocationFailureForTesting(0);
  EXPECT_EQ(file, Cp932(kBunko + "\r\n"));
  const WString missing = Utf16(folder_.Join("no such folder/list.csv"));
  EXPECT_EQ(ParseComicList(page.c_str(), missing.c_str()), 101);
  EXPECT_EQ(folder_.List(), std::vector<std::string>{"monthlist.csv"});
}

}  // namespace
}  // namespace zemlik::test
