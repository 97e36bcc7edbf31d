// How a failed run is reported. The device says nothing: the exit code is its report. A
// Linux host's commands say in one line on standard error what went wrong, so the host
// build does too.
#pragma once

#include "platform/win32.h"

// For exit codes 2 and 3, the host build writes one line to standard error that begins
// with "zemlik: " and says in plain words what was rejected (quoting `argumentText` from
// where it went wrong) or which job failed and why, and whether an existing output file
// was kept; it is made from Outcome (http/outcome.h) and what the host layer saw. Any
// other exit code, and the Windows build, write nothing.
void ReportFailure(int exitCode, LPCWSTR argumentText);
