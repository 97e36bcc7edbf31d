// The parsed command line: the job selector, the options record that the entry fills and
// hands to the parser and the job, and the one such record of the run.
#pragma once

#include "platform/win32.h"

// The job that /k: selects.
enum ListKind : int {
  kListComicTa = 1,  // "comic-ta": the shop's comic release list to CSV
  kListBunkoTa = 2,  // "bunko-ta": the shop's paperback release list to CSV
  kListComicWf = 3,  // "comic-wf": the monthly CSV booklist to the output file
  kListUrl = 4,      // "url": any URL to the output file
  kListNowTime = 5,  // "nowtime": the local date and time as CSV
};

constexpr SIZE_T kOutputPathLength = 260;

// Filled with defaults by the entry, overwritten by ParseCommandLine, read by the jobs.
struct CommandOptions {
  int kind;               // a ListKind value
  SYSTEMTIME targetDate;  // only wYear and wMonth are set; the rest stays zero
  WCHAR* url;             // the /u: value, LocalAlloc'd and owned here; null when absent
  const WCHAR* charset;   // one of the names in http/charset.h, never freed
  WCHAR outputPath[kOutputPathLength];  // NUL-terminated, at most 259 characters
};

// The one options record of the run, in static storage. The entry fills it and hands a
// pointer to the parser and the job; nothing else creates one.
extern CommandOptions Options;
