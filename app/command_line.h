// The command-line parser: one pass over the argument text, one character at a
// time, with the options /k: /d: /u: /c: /o:.
#pragma once

#include "app/options.h"
#include "platform/win32.h"

// Results of ParseCommandLine.
enum ParseResult : int {
  kParseAccepted = 0,
  kParseRejected = -101,  // rejected, or a copy could not be allocated
};

// Reads `text` (the argument text without the program's name) into `options`,
// over the defaults already there; only the fields the text names change.
// Returns kParseAccepted, or kParseRejected when it was rejected or a copy could
// not be allocated. A rejection stops at the first offending character
// and fields set before it keep their new values; it traces "pcl:stop=<position>,
// st=<state>": where the offending text begins in `text` (for a second /u:, at
// that option) and the state the pass was in. The /u: value is stored as a
// LocalAlloc'd copy that the record owns from then on.
int ParseCommandLine(LPCWSTR text, CommandOptions* options);
