// The release-list page parsers: a shop's monthly comic or paperback release list,
// handed over as one wide string, becomes the CSV output file with a header line
// and one record line per listed book (ANSI code page, CR LF).
//
// The page is not parsed as HTML: the list starts behind "件を表示します。", each
// entry opens with "<li>", and each field is followed by two U+3000.
#pragma once

#include "platform/win32.h"

// Results of the parsers.
constexpr int kListParsed = 0;             // scan reached the end or the end of the table
constexpr int kListStoppedInError = -101;  // a malformed entry or no memory for a field
constexpr int kListFileNotCreated = 101;   // nothing written, the text not read
constexpr int kListWriteFailed = 102;      // the scan ran, but a line was not written in full

// `text` is only read; the file at `outputPath` is created anew (CreateOutputFile).
int ParseComicList(LPCWSTR text, LPCWSTR outputPath);
int ParseBunkoList(LPCWSTR text, LPCWSTR outputPath);
