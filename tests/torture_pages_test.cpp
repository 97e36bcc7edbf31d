// Allocation torture of the release-list parsers, in process: each page the parser tests
// use goes through both parsers once to count the allocations of the call, then once per
// allocation with exactly that one failing (platform::SetAllocationFailureForTesting).
// The first allocation is the header line's; after it each one is a field string (the scan
// stops in its error state: -101, the records before it kept) or a record line (the line
// cannot be written: 102, and the old file stays as it was).
// Leaks show at the end of the process under the asan preset.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "lists/release_list.h"
#include "platform/memory.h"
#include "platform/time.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::ReadFileBytes;
using zemlik::testing::TempFolder;
using zemlik::testing::Utf16;

using Lines = std::vector<std::string>;
using Parser = int (*)(LPCWSTR, LPCWSTR);

class FixedClock : public platform::Clock {
 public:
  void Now(SYSTEMTIME* out) override { *out = SYSTEMTIME{2008, 12, 0, 21, 3, 3, 17, 0}; }
};

// Pages are written in UTF-8, with ␣ standing for U+3000.
std::string Marked(const std::string& utf8) {
  std::string out;
  const std::string mark = "␣";
  for (size_t i = 0; i < utf8.size();) {
    if (utf8.compare(i, mark.size(), mark) == 0) {
      out += "\u3000";
      i += mark.size();
    } else {
      out += utf8[i++];
    }
  }
  return out;
}

std::string Entry(const std::vector<std::string>& fields, const std::string& close = "</li>") {
  std::string entry = "<li>";
  for (const std::string& field : fields) entry += field + "␣␣";
  return entry + close + "\n";
}

std::string Page(const std::string& entries) {
  return "<html><head><title>新刊案内</title></head><body>\n"
         "<p>全3件を表示します。</p>\n<table><tr><td><ul>\n" +
         entries + "</ul></td></tr></table>\n<p>ページの先頭へ</p></body></html>\n";
}

const std::string kMarker = "件を表示します。";
const std::string kOldFile = "old\r\n";

// The pages of the parsers' own tests.
std::vector<std::string> Pages() {
  const std::vector<std::string> m = {"1", "P", "T", "A", "1", "M"};
  const std::vector<std::string> b = {"1", "P", "C", "T", "A", "1"};
  return {
      Page(Entry({"12/05", "講談社", "はじめの一歩␣第87巻", "森川ジョージ", "\\440", "初回限定"}) +
           Entry({"12/09", "集英社", "ONE PIECE 52", "尾田栄一郎", "\\420", ""})),
      "",
      "<ul>" + Entry(m),
      kMarker + Entry(m) + "<li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</l",
      kMarker + Entry(m) + "<li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</table></li>\n" + Entry(m),
      kMarker + Entry(m) + "</table>" + Entry(m),
      Page(Entry({"12/10", "新潮社", "文芸", "坊っちゃん", "夏目漱石", "\\420"}) +
           Entry({"12/10", "角川書店", "ミステリ", "犬神家の一族", "横溝正史", "\\700"}, "")) +
          Entry({"12/20", "P", "C", "T", "A", "1"}),
      kMarker + Entry(b) + Entry({"2", "P", "C", "T", "A", "2"}),
      kMarker + "<li>1␣␣P␣Q␣␣␣T␣␣A␣␣1␣␣M␣␣</li><li>2␣␣P␣␣␣␣A␣␣1␣␣M␣␣</li>" +
          "<li>␣␣P␣␣T␣␣A␣␣1␣␣␣␣</li>",
      kMarker + "<li>1␣␣\\P␣␣\\T␣␣\\A␣␣\\\\440␣␣\\M␣␣</li><li>2␣␣P␣␣T␣␣A␣␣￥440␣␣M␣␣</li>" +
          "<li>3␣␣P␣␣T␣␣A␣␣4\\40␣␣M␣␣</li><li>4␣␣P␣␣T␣␣A␣␣\\␣␣M␣␣</li>",
      kMarker + "<li>1␣␣\\P␣␣\\C␣␣\\T␣␣\\A␣␣\\\\420␣␣<li>2␣␣P␣␣C␣␣T␣␣A␣␣￥420␣␣</table>",
      Entry({"0", "before", "the", "marker", "1", "M"}) + kMarker +
          "<LI>1␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</LI><li class=\"new\">2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</li>" +
          "<li >3␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</li><li>4␣␣件を表示します。␣␣T␣␣A␣␣1␣␣M␣␣</li>" +
          "<li>5␣␣P,Q␣␣<b>T</b>␣␣&amp;A␣␣1␣␣\"M\"␣␣</li>",
      kMarker + Entry({"1", "P", "T", "A"}) + Entry({"2", "P2", "T2", "A2", "1", "M"}) +
          Entry({"3", "P3", "T3", "A3", "3", "M3"}),
      Page(Entry(m)) + "<ul><li>お問い合わせ␣はこちら</li><li>2␣␣P␣␣T␣␣A␣␣1␣␣M␣␣</li></ul>",
      kMarker + Entry(b, "") + "<li>12/05␣x␣␣P␣␣C␣␣T␣␣A␣␣1␣␣</table>",
      kMarker + Entry({"1/10", "P", "T", "A", "1", "M"}) + Entry({"1/20", "P", "T", "A", "1", "M"}),
      kMarker + Entry({"12/31x", "P", "T", "A", "1", "M"}) +
          Entry({"12/31xy", "P", "T", "A", "1", "M"}) +
          Entry({"12/01", "C", std::string(980, 't'), "A", "1", "M"}) +
          Entry({"12/01", "C", std::string(981, 'u'), "A", "1", "M"}) +
          Entry({"12/02", "P", "T", "A", "1", "M"}),
  };
}

// The file's lines, each with its CR LF.
Lines SplitLines(const std::string& file) {
  Lines lines;
  for (size_t start = 0; start < file.size();) {
    size_t end = file.find("\r\n", start);
    end = end == std::string::npos ? file.size() : end + 2;
    lines.push_back(file.substr(start, end - start));
    start = end;
  }
  return lines;
}

bool IsPrefix(const Lines& lines, const Lines& whole) {
  if (lines.empty() || lines.size() > whole.size()) return false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != whole[i]) return false;
  }
  return true;
}

struct ParserCase {
  const char* name;
  Parser parser;
};

void PrintTo(const ParserCase& c, std::ostream* os) { *os << c.name; }

class TorturePagesTest : public ::testing::TestWithParam<ParserCase> {
 protected:
  void SetUp() override { platform::SetClockForTesting(&clock_); }
  void TearDown() override {
    platform::SetAllocationFailureForTesting(0);
    platform::SetClockForTesting(nullptr);
  }

  // Parses `text` with allocation `failAt` failing (0: none); the result and the file.
  int Parse(const std::u16string& text, unsigned long failAt, Lines* lines,
            unsigned long* allocations) {
    const std::u16string path = Utf16(folder_.Join("list.csv"));
    EXPECT_TRUE(zemlik::testing::WriteFileBytes(folder_.Join("list.csv"), kOldFile));
    platform::ResetAllocationCountForTesting();
    platform::SetAllocationFailureForTesting(failAt);
    const int result = GetParam().parser(text.c_str(), path.c_str());
    platform::SetAllocationFailureForTesting(0);
    *allocations = platform::AllocationCountForTesting();
    *lines = SplitLines(ReadFileBytes(folder_.Join("list.csv")).value_or(""));
    return result;
  }

  FixedClock clock_;
  TempFolder folder_;
};

TEST_P(TorturePagesTest, EveryAllocationFailureOfEveryPage) {
  const std::vector<std::string> pages = Pages();
  unsigned long runs = 0;
  for (size_t p = 0; p < pages.size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p));
    const std::u16string text = Utf16(Marked(pages[p]));
    Lines whole;
    unsigned long total = 0;
    const int clean = Parse(text, 0, &whole, &total);
    ASSERT_TRUE(clean == 0 || clean == kListStoppedInError) << clean;
    ASSERT_GE(whole.size(), 1u);
    ASSERT_GE(total, whole.size());  // a line buffer per line, a string per field

    for (unsigned long k = 1; k <= total; ++k, ++runs) {
      SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(total));
      Lines lines;
      unsigned long made = 0;
      const int result = Parse(text, k, &lines, &made);
      EXPECT_GE(made, k);
      // The header line's buffer is the first; a line's failure keeps the old file.
      const bool line = result == kListWriteFailed && lines == Lines{kOldFile};
      const bool field = k > 1 && result == kListStoppedInError && IsPrefix(lines, whole);
      EXPECT_TRUE(field || line) << "result " << result << ", " << lines.size() << " of "
                                 << whole.size() << " lines";
      EXPECT_EQ(folder_.List(), std::vector<std::string>{"list.csv"});
    }
  }
  std::printf("%s: %lu runs with one allocation failing\n", GetParam().name, runs);
}

INSTANTIATE_TEST_SUITE_P(Parsers, TorturePagesTest,
                         ::testing::Values(ParserCase{"ParseComicList", ParseComicList},
                                           ParserCase{"ParseBunkoList", ParseBunkoList}),
                         [](const ::testing::TestParamInfo<ParserCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
