// What the run came to, as typed facts: how far it got, where the parser stopped, what the last
// request and the connection said, and whether an old output file stayed. The program writes
// them where it writes its trace lines; it never reads or shows them. A host that reports a
// failure in words makes them from this record, so a renamed state or code is a compile error
// there, not a changed message.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"

// How far the run got, in order.
enum RunStage : int {
  kStageArguments = 0,  // the argument text is being read
  kStageJob,            // the text was accepted and the job runs
  kStageConnection,     // a network job asked for its data connection
  kStageFetch,          // the connection is up: the source is being fetched
  kStageRequest,        // a request went out
};

// Each field says whose names its values are.
struct RunOutcome {
  RunStage stage = kStageArguments;
  int job = 0;     // a ListKind (app/options.h), once the text is parsed
  int result = 0;  // the job's result: a ListJobResult (app/list_job.h) or a nowtime result

  // Where a rejected text stopped, and the ParseState (app/command_line.h) the parser was in.
  SIZE_T parseStop = 0;
  int parseState = 0;
  SIZE_T pathLength = 0;  // the length of an /o: value refused as too long

  // The last request: SendReqData's result (http/request.h), the final HTTP status (0 when no
  // response came), the body bytes received and those announced by Content-Length, and the
  // error code (GetLastError) of the step or read that failed.
  int requestResult = 0;
  DWORD httpStatus = 0;
  std::uint64_t received = 0;
  bool announcedKnown = false;
  DWORD announced = 0;
  DWORD lastError = 0;

  // The connection manager's last status (CONNMGR_STATUS_*), or the failed result of a status
  // read. Written by the connection agent's worker thread, read by the main thread.
  std::atomic<DWORD> connectionStatus{0};

  // Why the output path was refused by the program's own rule: an OutputRefusal
  // (lists/output_file.h). A job that failed left an existing output file where it was.
  int outputRefusal = 0;
  bool outputKept = false;
};

// The one record of the run.
extern RunOutcome Outcome;
