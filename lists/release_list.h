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
constexpr int kListFileNotCreated = 101;   // the file cannot be created or put in place
constexpr int kListWriteFailed = 102;      // the scan ran, but a line was not written in full

// `text` is only read. Each record's date is the page's month and day behind `year`, the
// year of the list that was asked for, as "%04d/" (a page shows no year). The file at
// `outputPath` is replaced by the header and the records once the scan has ended
// (PendingOutputFile), also after a stop in error (the records before it are kept); on 101
// and 102 an existing file stays as it was.
int ParseComicList(LPCWSTR text, LPCWSTR outputPath, WORD year);
int ParseBunkoList(LPCWSTR text, LPCWSTR outputPath, WORD year);
