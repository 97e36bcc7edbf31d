// ParseCommandLine: one text per transition and edge of the grammar, each with the whole
// record it leaves, written "result kind year/month url charset [path]".
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "http/charset.h"
#include "platform/memory.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

// Parses `text` over the entry's defaults (this month standing as 1999/7) and renders the
// record; "-" for no URL, and the charset by identity with the constant table.
std::string Parsed(const std::string& text) {
  CommandOptions o{
      kListComicTa, {1999, 7}, nullptr, kCharsetSjis, TEXT("\\My Documents\\monthlist.csv")};
  const int result = ParseCommandLine(Utf16(text).c_str(), &o);
  std::string charset = "?", url = o.url ? "[" + Utf8(o.url) + "]" : "-";
  for (const WCHAR* name : {kCharsetSjis, kCharsetUtf8, kCharsetUnicode, kCharsetBin})
    if (o.charset == name) charset = Utf8(name);
  LocalFree(o.url);
  EXPECT_EQ(o.targetDate.wDay + o.targetDate.wHour + o.targetDate.wDayOfWeek, 0);
  EXPECT_NE(WString(o.outputPath, kOutputPathLength).find(TEXT('\0')), WString::npos);
  const std::string verdict = result == kParseAccepted   ? "accepted"
                              : result == kParseRejected ? "rejected"
                                                         : std::to_string(result);
  return verdict + " " + std::to_string(o.kind) + " " + std::to_string(o.targetDate.wYear) + "/" +
         std::to_string(o.targetDate.wMonth) + " " + url + " " + charset + " [" +
         Utf8(o.outputPath) + "]";
}

const std::string kPath = " SJIS [\\My Documents\\monthlist.csv]";

TEST(ParseCommandLine, EveryTransitionAndEdge) {
  // The texts of a row, each leaving the row's record.
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"", "     ", "/k:comic-ta", "/c:sjis"}, "accepted 1 1999/7 -" + kPath},
      // The five prefixes, in any order, blanks between; anything else is rejected.
      {{"  /k:nowtime /d:2008/12 /u:http://h/ /c:utf8 /o:x.csv ",
        "/o:x.csv /c:utf8 /u:http://h/ /d:2008/12 /k:nowtime"},
       "accepted 5 2008/12 [http://h/] UTF8 [x.csv]"},
      {{"/x:1", "k:url", "/", "/K:url", "\t/k:url"}, "rejected 1 1999/7 -" + kPath},
      {{"/k:url\t"}, "rejected 4 1999/7 -" + kPath},
      // Kinds: a later one wins; after a keyword the next option may follow at once.
      {{"/k:bunko-ta"}, "accepted 2 1999/7 -" + kPath},
      {{"/k:comic-wf"}, "accepted 3 1999/7 -" + kPath},
      {{"/k:url /k:nowtime"}, "accepted 5 1999/7 -" + kPath},
      {{"/k:bunko-ta/d:2008/3"}, "accepted 2 2008/3 -" + kPath},
      {{"/k:url/u:http://h/p"}, "accepted 4 1999/7 [http://h/p]" + kPath},
      {{"/k:bunko-tax"}, "rejected 2 1999/7 -" + kPath},
      {{"/k:comic", "/k:URL", "/k: url"}, "rejected 1 1999/7 -" + kPath},
      // Dates: three separators, no range test, 16 bits, years below 100 in this century.
      {{"/d:2008/5", "/d:2008/65541"}, "accepted 1 2008/5 -" + kPath},
      {{"/d:2008-12 ", "/d:08/12 "}, "accepted 1 2008/12 -" + kPath},
      {{"/d:2008.0"}, "accepted 1 2008/0 -" + kPath},
      {{"/d:99/1"}, "accepted 1 2099/1 -" + kPath},
      {{"/d:100/1"}, "accepted 1 100/1 -" + kPath},
      {{"/d:2008/12 /d:now/k:url"}, "accepted 4 2008/12 -" + kPath},
      {{"/d:2008 ", "/d:nowx", "/d:NOW", "/d:2008:12"}, "rejected 1 1999/7 -" + kPath},
      {{"/d:2008/12/k:url", "/d:2008/12x", "/d:2008//12"}, "rejected 1 2008/7 -" + kPath},
      // A URL runs to a blank; a second /u: is rejected when its value is complete.
      {{"/u:http://h/p/k:url \"q\""}, "rejected 1 1999/7 [http://h/p/k:url]" + kPath},
      {{"/u:\"h\" /k:url"}, "accepted 4 1999/7 [\"h\"]" + kPath},
      {{"/u: /k:url"}, "accepted 4 1999/7 []" + kPath},
      {{"/u:"}, "accepted 1 1999/7 []" + kPath},
      {{"/u:a /u:b", "/u:a /u: "}, "rejected 1 1999/7 [a]" + kPath},
      {{"/c:utf8"}, "accepted 1 1999/7 - UTF8 [\\My Documents\\monthlist.csv]"},
      {{"/c:unicode"}, "accepted 1 1999/7 - UNICODE [\\My Documents\\monthlist.csv]"},
      {{"/c:utf8 /c:bin/k:url"}, "accepted 4 1999/7 - BIN [\\My Documents\\monthlist.csv]"},
      {{"/c:SJIS", "/c:utf-8"}, "rejected 1 1999/7 -" + kPath},
      {{"/c:binary"}, "rejected 1 1999/7 - BIN [\\My Documents\\monthlist.csv]"},
      // Quoted paths hold blanks; unquoted ones end at a blank, which may be their first.
      {{"/o:\"\\My Documents\\新刊 一覧.csv\"/k:url"},
       "accepted 4 1999/7 - SJIS [\\My Documents\\新刊 一覧.csv]"},
      {{"/o:\"a b\"c"}, "rejected 1 1999/7 - SJIS [a b]"},
      {{"/o:\"\""}, "accepted 1 1999/7 - SJIS []"},
      {{"/o:x.csv /o:\"unfinished"}, "accepted 1 1999/7 - SJIS [x.csv]"},
      {{"/o:a\"b/k:url"}, "accepted 1 1999/7 - SJIS [a\"b/k:url]"},
      {{"/o: word /k:url"}, "accepted 4 1999/7 - SJIS [ word]"},
      {{"/o:\\My Documents\\monthlist.csv"}, "rejected 1 1999/7 - SJIS [\\My]"},
      // A path the field cannot hold whole is refused, not cut: it would name another file.
      {{"/o:" + std::string(260, 'p') + " /k:url", "/o:\"" + std::string(300, 'q') + "\""},
       "rejected 1 1999/7 -" + kPath},
      {{"/o:\"" + std::string(259, 'q') + "\""},
       "accepted 1 1999/7 - SJIS [" + std::string(259, 'q') + "]"},
      // At the end: a bare prefix changes nothing; a year is kept behind its separator.
      {{"/k:url /c:"}, "accepted 4 1999/7 -" + kPath},
      {{"/d:", "/o:", "/d:2008"}, "accepted 1 1999/7 -" + kPath},
      {{"/d:2008/"}, "accepted 1 2008/7 -" + kPath},
      {{"/u:http://h/検索?q=本"}, "accepted 1 1999/7 [http://h/検索?q=本]" + kPath},
  };
  for (const auto& [texts, record] : rows)
    for (const std::string& text : texts) EXPECT_EQ(Parsed(text), record) << text;
}

}  // namespace
}  // namespace zemlik::test
