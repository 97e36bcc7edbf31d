// The nowtime job: the local date and time as a two-line CSV file.
#pragma once

#include "app/options.h"

// Writes "date,time" and the local clock's "YYYY/MM/DD,hh:mm:ss " (with its
// trailing blank) to options->outputPath, each line ended by CR LF. Returns 0,
// 101 when the file cannot be created or put in place, or 102 when either line
// could not be written in full. The file replaces an existing one only when both
// lines were written (PendingOutputFile); on 101 and 102 the old one stays.
int WriteNowTime(const CommandOptions* options);
