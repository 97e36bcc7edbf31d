// ParseCommandLine: one row per transition and edge of the grammar, each with the whole
// record it leaves, written "result kind year/month url charset [path]".
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/charset.h"
#include "platform/memory.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

const WString kDefaultPath = TEXT("\\My Documents\\monthlist.csv");

// Parses `text` over the entry's defaults (this month standing as 1999/7) and renders the
// record; "-" for no URL, and the charset by identity with the constant table.
std::string Parsed(const WString& text) {
  CommandOptions o{kListComicTa, {1999, 7}, nullptr, kCharsetSjis, {}};
  kDefaultPath.copy(o.outputPath, kOutputPathLength);
  const int result = ParseCommandLine(text.c_str(), &o);
  std::string charset = "?";
  for (const WCHAR* name : {kCharsetSjis, kCharsetUtf8, kCharsetUnicode, kCharsetBin}) {
    if (o.charset == name) charset = Utf8(name);
  }
  EXPECT_EQ(o.targetDate.wDay + o.targetDate.wHour + o.targetDate.wDayOfWeek, 0);
  EXPECT_NE(WString(o.outputPath, kOutputPathLength).find(TEXT('\0')), WString::npos);
  const std::string rendered =
      std::to_string(result) + " " + std::to_string(o.kind) + " " +
      std::to_string(o.targetDate.wYear) + "/" + std::to_string(o.targetDate.wMonth) + " " +
      (o.url ? "[" + Utf8(o.url) + "]" : "-") + " " + charset + " [" + Utf8(o.outputPath) + "]";
  LocalFree(o.url);
  return rendered;
}

const std::string kPath = " SJIS [\\My Documents\\monthlist.csv]";

TEST(ParseCommandLine, EveryTransitionAndEdge) {
  const std::pair<WString, std::string> rows[] = {
      {TEXT(""), "0 1 1999/7 -" + kPath},
      {TEXT("     "), "0 1 1999/7 -" + kPath},
      // The five prefixes, in any order, blanks between; anything else is rejected.
      {TEXT("  /k:nowtime /d:2008/12 /u:http://h/ /c:utf8 /o:x.csv "),
       "0 5 2008/12 [http://h/] UTF8 [x.csv]"},
      {TEXT("/o:x.csv /c:utf8 /u:http://h/ /d:2008/12 /k:nowtime"),
       "0 5 2008/12 [http://h/] UTF8 [x.csv]"},
      {TEXT("/x:1"), "-101 1 1999/7 -" + kPath},
      {TEXT("k:url"), "-101 1 1999/7 -" + kPath},
      {TEXT("/"), "-101 1 1999/7 -" + kPath},
      {TEXT("/K:url"), "-101 1 1999/7 -" + kPath},
      {TEXT("\t/k:url"), "-101 1 1999/7 -" + kPath},
      {TEXT("/k:url\t"), "-101 4 1999/7 -" + kPath},
      // Kinds: a later one wins; after a keyword the next option may follow at once.
      {TEXT("/k:comic-ta"), "0 1 1999/7 -" + kPath},
      {TEXT("/k:bunko-ta"), "0 2 1999/7 -" + kPath},
      {TEXT("/k:comic-wf"), "0 3 1999/7 -" + kPath},
      {TEXT("/k:url /k:nowtime"), "0 5 1999/7 -" + kPath},
      {TEXT("/k:bunko-ta/d:2008/3"), "0 2 2008/3 -" + kPath},
      {TEXT("/k:url/u:http://h/p"), "0 4 1999/7 [http://h/p]" + kPath},
      {TEXT("/k:bunko-tax"), "-101 2 1999/7 -" + kPath},
      {TEXT("/k:comic"), "-101 1 1999/7 -" + kPath},
      {TEXT("/k:URL"), "-101 1 1999/7 -" + kPath},
      {TEXT("/k: url"), "-101 1 1999/7 -" + kPath},
      // Dates: three separators, no range test, 16 bits, years below 100 in this century.
      {TEXT("/d:2008/5"), "0 1 2008/5 -" + kPath},
      {TEXT("/d:2008-12 "), "0 1 2008/12 -" + kPath},
      {TEXT("/d:2008.0"), "0 1 2008/0 -" + kPath},
      {TEXT("/d:2008/65541"), "0 1 2008/5 -" + kPath},
      {TEXT("/d:08/12 "), "0 1 2008/12 -" + kPath},
      {TEXT("/d:99/1"), "0 1 2099/1 -" + kPath},
      {TEXT("/d:100/1"), "0 1 100/1 -" + kPath},
      {TEXT("/d:2008/12 /d:now/k:url"), "0 4 2008/12 -" + kPath},
      {TEXT("/d:2008 "), "-101 1 1999/7 -" + kPath},
      {TEXT("/d:2008/12/k:url"), "-101 1 2008/7 -" + kPath},
      {TEXT("/d:2008/12x"), "-101 1 2008/7 -" + kPath},
      {TEXT("/d:nowx"), "-101 1 1999/7 -" + kPath},
      {TEXT("/d:NOW"), "-101 1 1999/7 -" + kPath},
      {TEXT("/d:2008:12"), "-101 1 1999/7 -" + kPath},
      {TEXT("/d:2008//12"), "-101 1 2008/7 -" + kPath},
      // A URL runs to a blank; a second /u: is rejected when its value is complete.
      {TEXT("/u:http://h/p/k:url \"q\""), "-101 1 1999/7 [http://h/p/k:url]" + kPath},
      {TEXT("/u:\"h\" /k:url"), "0 4 1999/7 [\"h\"]" + kPath},
      {TEXT("/u: /k:url"), "0 4 1999/7 []" + kPath},
      {TEXT("/u:"), "0 1 1999/7 []" + kPath},
      {TEXT("/u:a /u:b"), "-101 1 1999/7 [a]" + kPath},
      {TEXT("/u:a /u: "), "-101 1 1999/7 [a]" + kPath},
      // Charsets.
      {TEXT("/c:utf8"), "0 1 1999/7 - UTF8 [\\My Documents\\monthlist.csv]"},
      {TEXT("/c:unicode"), "0 1 1999/7 - UNICODE [\\My Documents\\monthlist.csv]"},
      {TEXT("/c:utf8 /c:bin/k:url"), "0 4 1999/7 - BIN [\\My Documents\\monthlist.csv]"},
      {TEXT("/c:sjis"), "0 1 1999/7 -" + kPath},
      {TEXT("/c:SJIS"), "-101 1 1999/7 -" + kPath},
      {TEXT("/c:utf-8"), "-101 1 1999/7 -" + kPath},
      {TEXT("/c:binary"), "-101 1 1999/7 - BIN [\\My Documents\\monthlist.csv]"},
      // Quoted paths hold blanks; unquoted ones end at a blank, which may be their first.
      {TEXT("/o:\"\\My Documents\\新刊 一覧.csv\"/k:url"),
       "0 4 1999/7 - SJIS [\\My Documents\\新刊 一覧.csv]"},
      {TEXT("/o:\"a b\"c"), "-101 1 1999/7 - SJIS [a b]"},
      {TEXT("/o:\"\""), "0 1 1999/7 - SJIS []"},
      {TEXT("/o:x.csv /o:\"unfinished"), "0 1 1999/7 - SJIS [x.csv]"},
      {TEXT("/o:a\"b/k:url"), "0 1 1999/7 - SJIS [a\"b/k:url]"},
      {TEXT("/o: word /k:url"), "0 4 1999/7 - SJIS [ word]"},
      {TEXT("/o:\\My Documents\\monthlist.csv"), "-101 1 1999/7 - SJIS [\\My]"},
      {TEXT("/o:") + WString(300, 'p') + TEXT(" /k:url"),
       "0 4 1999/7 - SJIS [" + std::string(259, 'p') + "]"},
      {TEXT("/o:\"") + WString(260, 'q') + TEXT("\""),
       "0 1 1999/7 - SJIS [" + std::string(259, 'q') + "]"},
      // At the end: a bare prefix changes nothing; a year is kept behind its separator.
      {TEXT("/k:url /c:"), "0 4 1999/7 -" + kPath},
      {TEXT("/d:"), "0 1 1999/7 -" + kPath},
      {TEXT("/o:"), "0 1 1999/7 -" + kPath},
      {TEXT("/d:2008"), "0 1 1999/7 -" + kPath},
      {TEXT("/d:2008/"), "0 1 2008/7 -" + kPath},
      {TEXT("/u:http://h/検索?q=本"), "0 1 1999/7 [http://h/検索?q=本]" + kPath},
  };
  for (const auto& [text, record] : rows) EXPECT_EQ(Parsed(text), record) << Utf8(text);
}

}  // namespace
}  // namespace zemlik::test
