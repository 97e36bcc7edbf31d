// The command-line parser: one pass over the argument text, one character at a
// time, with the options /k: /d: /u: /c: /o:.
#pragma once

#include "app/options.h"
#include "http/charset.h"
#include "platform/win32.h"

// ParseState: one value per place in the grammar, negative once the pass failed.
enum ParseState : int {
  kBetweenOptions = 100,  // expecting blanks or an option prefix
  kKindValue = 200,       // the value of /k:
  kDateValue = 300,       // the value of /d:: "now" or a year's first digit
  kYearDigits = 310,
  kAfterYear = 320,  // behind the year's separator
  kMonthDigits = 330,
  kUrlValue = 400,
  kCharsetValue = 500,
  kPathStart = 900,  // the first character of the value of /o:
  kQuotedPath = 910,
  kUnquotedPath = 950,
  kRejected = -1,  // any negative state ends the pass
};

// The keywords of /k: and /c:, in the order they are tested; each is a prefix test.
struct KindKeyword {
  LPCWSTR keyword;
  int kind;  // a ListKind
};
inline constexpr KindKeyword kKindKeywords[] = {
    {TEXT("comic-ta"), kListComicTa}, {TEXT("bunko-ta"), kListBunkoTa},
    {TEXT("comic-wf"), kListComicWf}, {TEXT("url"), kListUrl},
    {TEXT("nowtime"), kListNowTime},
};

struct CharsetKeyword {
  LPCWSTR keyword;
  const WCHAR* charset;  // one of the names in http/charset.h
};
inline constexpr CharsetKeyword kCharsetKeywords[] = {
    {TEXT("sjis"), kCharsetSjis},
    {TEXT("utf8"), kCharsetUtf8},
    {TEXT("unicode"), kCharsetUnicode},
    {TEXT("bin"), kCharsetBin},
};

// Results of ParseCommandLine.
enum ParseResult : int {
  kParseAccepted = 0,
  kParseRejected = -101,  // rejected, or a copy could not be allocated
};

// Reads `text` (the argument text without the program's name) into `options`,
// over the defaults already there; only the fields the text names change.
// Returns kParseAccepted, or kParseRejected when it was rejected or a copy could
// not be allocated. A rejection stops at the first offending character
// and fields set before it keep their new values; Outcome (http/outcome.h) gets where
// the offending text begins in `text` (for a second /u:, at that option) and the
// ParseState the pass was in. An /o: value longer than the 259 characters that outputPath
// holds is refused where it begins, with its length in Outcome.pathLength: cut, it would
// name another file. The /u: value is stored as a LocalAlloc'd copy that the record owns
// from then on.
int ParseCommandLine(LPCWSTR text, CommandOptions* options);
