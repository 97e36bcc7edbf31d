// The host's process entry: rebuilds the device's argument text from argv, runs the
// program's entry with it, and has a failed run reported as the host expects.
#include "app/entry.h"
#include "app/failure_line.h"
#include "platform/entry.h"

int main(int argc, char** argv) {
  return platform::RunWinMain(argc, argv, {WinMain, ReportFailure, kExitRejected, kExitJobFailed});
}
