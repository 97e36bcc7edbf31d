// The nowtime job: the local date and time as a two-line CSV file.
#pragma once

#include "app/options.h"

// Results of WriteNowTime.
constexpr int kNowTimeWritten = 0;
constexpr int kNowTimeFileNotCreated = 101;  // the file cannot be created or put in place
constexpr int kNowTimeLineNotWritten = 102;  // a line was not written in full

// Writes "date,time" and the local clock's "YYYY/MM/DD,hh:mm:ss " (with its
// trailing blank) to options->outputPath, each line ended by CR LF. The file replaces an existing
// one only when both lines were written (PendingOutputFile); on 101 and 102 the old one stays.
int WriteNowTime(const CommandOptions* options);
