// The nowtime job: the local date and time as a two-line CSV file.
#pragma once

#include "lists/options.h"

// Writes "date,time" and the local clock's "YYYY/MM/DD,hh:mm:ss " (with its
// trailing blank) to options->outputPath, each line ended by CR LF. Returns 0,
// 101 when the file cannot be created (nothing is written), or 102 when either
// line could not be written in full.
int WriteNowTime(const CommandOptions* options);
