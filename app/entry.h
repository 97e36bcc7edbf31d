// The program's entry, called by the platform with the argument text.
#pragma once

#include "platform/routes.h"
#include "platform/win32.h"

// The process exit codes: the only report the program gives.
enum ExitCode : int {
  kExitJobDone = 0,     // the job ran and returned 0
  kExitUsageShown = 1,  // the argument text was empty; the usage text was shown
  kExitRejected = 2,    // the command line was rejected; no job ran
  kExitJobFailed = 3,   // the job ran and returned a nonzero result
};

// The run sequence: trace, usage or defaults, parse, job, exit code. `commandLine`
// is the argument text without the program's name; the instance handles are
// unused and the show command is only traced.
int WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showCommand);
