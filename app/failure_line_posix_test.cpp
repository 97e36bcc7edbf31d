// The failure line from the outcome record, for what the end-to-end table cannot bring about
// (no connection could be requested, an untrusted certificate, a body that ended short).
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "app/command_line.h"
#include "app/entry.h"
#include "app/failure_line.h"
#include "app/list_job.h"
#include "http/outcome.h"
#include "http/request.h"
#include "platform/inet.h"
#include "platform/routes.h"

namespace {

std::string Line(int exitCode) {
  ::testing::internal::CaptureStderr();
  ReportFailure(exitCode, TEXT("/d:x"));
  return ::testing::internal::GetCapturedStderr();
}

TEST(FailureLine, SaysWhatTheOutcomeHolds) {
  EXPECT_EQ(Line(kExitJobDone), "");
  Outcome.pathLength = 300;
  // Where the parser stopped in "/d:x" (5: beyond it), in which state: why it was rejected.
  const std::tuple<SIZE_T, int, std::string> stops[] = {
      {5, kKindValue, ""},
      {0, kKindValue,
       " at \"/d:x\": no such job (the jobs are comic-ta, bunko-ta, comic-wf, url and nowtime)"},
      {3, kDateValue, " at \"x\": not a month (give now, or a year and month such as 2008/12)"},
      {3, kQuotedPath, " at \"x\": the output path is too long (300 characters; at most 259)"},
      {0, kBetweenOptions, " at \"/d:x\": not one of the options /k: /d: /u: /c: /o:"}};
  for (const auto& [stop, state, why] : stops) {
    Outcome.parseStop = stop, Outcome.parseState = state;
    EXPECT_EQ(Line(kExitRejected), "zemlik: command line rejected" + why +
                                       "; run zemlik without arguments to see the usage\n");
  }
  // Each row adds to the record what makes its line.
  Outcome.received = 10, Outcome.announced = 20, Outcome.announcedKnown = true;
  const std::pair<void (*)(), std::string> failures[] = {
      {[] {}, "the job failed: the output file was not written"},
      {[] { Outcome.job = kListUrl, Outcome.result = kJobAgentNotStarted; },
       "url failed: the connection could not be requested"},
      {[] { Outcome.result = kJobNotConnected, Outcome.connectionStatus = 0x20; },
       "url failed: no data connection (it was disconnected)"},
      {[] {
         Outcome.result = kJobUrlNotFetched, Outcome.stage = kStageRequest;
         Outcome.requestResult = kRequestGetFailed, Outcome.lastError = 1;
       },
       "url failed: cannot fetch the server: error 1"},
      {[] { Outcome.lastError = ERROR_INTERNET_INVALID_CA; },
       "url failed: cannot fetch the server: the server's certificate is not trusted"},
      {[] { Outcome.requestResult = kRequestBodyBroken, Outcome.lastError = 0; },
       "url failed: the body ended after 10 of 20 bytes from the server"}};
  for (const auto& [set, what] : failures) {
    set();
    EXPECT_EQ(Line(kExitJobFailed), "zemlik: " + what + "; no output file was written\n");
  }
  wcscpy(Options.outputPath, TEXT("\\x.csv"));
  Outcome.outputKept = true;
  EXPECT_TRUE(Line(kExitJobFailed).ends_with("; the existing output file \\x.csv was kept\n"));
}

}  // namespace
