// The failure line from the outcome record, for what the end-to-end table cannot bring about
// (no connection could be requested, an untrusted certificate, a body that ended short).
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"
#include "app/entry.h"
#include "app/failure_line.h"
#include "app/list_job.h"
#include "http/outcome.h"
#include "http/request.h"
#include "platform/inet.h"
#include "platform/routes.h"

namespace {

struct Row {
  int exitCode = kExitJobFailed, job = 0, result = 0, state = 0;
  SIZE_T stop = 0;
  RunStage stage = kStageJob;
  int request = kRequestOk;
  DWORD status = 0, error = 0;
  bool kept = false;
  std::string line;  // behind "zemlik: " and before the usage hint of a rejection
};

TEST(FailureLine, SaysWhatTheOutcomeHolds) {
  wcscpy(Options.outputPath, TEXT("\\x.csv"));
  Outcome.pathLength = 300, Outcome.received = 10, Outcome.announced = 20;
  Outcome.announcedKnown = true;
  const std::string none = "; no output file was written", fetch = "url failed: cannot fetch ";
  const Row rows[] = {
      {.exitCode = kExitJobDone},
      {.exitCode = kExitRejected, .stop = 5, .line = "command line rejected"},
      {.exitCode = kExitRejected,
       .state = kDateValue,
       .stop = 3,
       .line = "command line rejected at \"x\": not a month (give now, or a year and month such "
               "as 2008/12)"},
      {.exitCode = kExitRejected,
       .state = kQuotedPath,
       .stop = 3,
       .line = "command line rejected at \"x\": the output path is too long (300 characters; at "
               "most 259)"},
      {.exitCode = kExitRejected,
       .state = kBetweenOptions,
       .line = "command line rejected at \"/d:x\": not one of the options /k: /d: /u: /c: /o:"},
      {.line = "the job failed: the output file was not written" + none},
      {.job = kListComicTa,
       .result = kJobAgentNotStarted,
       .line = "comic-ta failed: the connection could not be requested" + none},
      {.job = kListComicTa,
       .result = kJobNotConnected,
       .status = 0x20,
       .line = "comic-ta failed: no data connection (it was disconnected)" + none},
      {.job = kListUrl,
       .stage = kStageRequest,
       .request = kRequestGetFailed,
       .error = ERROR_INTERNET_INVALID_CA,
       .line = fetch + "the server: the server's certificate is not trusted" + none},
      {.job = kListUrl,
       .stage = kStageRequest,
       .request = kRequestGetFailed,
       .error = 1,
       .line = fetch + "the server: error 1" + none},
      {.job = kListUrl,
       .stage = kStageRequest,
       .request = kRequestBodyBroken,
       .kept = true,
       .line = "url failed: the body ended after 10 of 20 bytes from the server; the existing "
               "output file \\x.csv was kept"},
  };
  for (const Row& row : rows) {
    Outcome.job = row.job, Outcome.result = row.result, Outcome.parseState = row.state;
    Outcome.parseStop = row.stop, Outcome.stage = row.stage, Outcome.requestResult = row.request;
    Outcome.connectionStatus = row.status, Outcome.lastError = row.error;
    Outcome.outputKept = row.kept;
    ::testing::internal::CaptureStderr();
    ReportFailure(row.exitCode, TEXT("/d:x"));
    const std::string hint =
        row.exitCode == kExitRejected ? "; run zemlik without arguments to see the usage" : "";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              row.line.empty() ? "" : "zemlik: " + row.line + hint + "\n");
  }
}

}  // namespace
