// The network jobs: comic-ta, bunko-ta, comic-wf and url, each from connection
// to file.
#pragma once

#include "app/options.h"

// Results of RunListJob; the entry turns any non-zero one into exit code 3.
enum ListJobResult : int {
  kJobDone = 0,
  kJobAgentNotStarted = -101,  // ConnectedEvent or the agent's Start failed; no worker runs
  kJobNotConnected = -102,     // not reported connected within 20000 ms
  kJobComicNoUrlBuffer = -103,
  kJobComicNotFetched = -104,
  kJobBunkoNoUrlBuffer = -105,
  kJobBunkoNotFetched = -106,
  kJobBooklistNoUrlBuffer = -107,
  kJobBooklistNotFetched = -108,
  kJobUrlNotFetched = -109,
  kJobBooklistBadMonth = -110,  // comic-wf with a month above 12; nothing was started
  kJobListNotWritten = -111,    // the parser could not create or write the output file
  kJobUnknownKind = -112,       // a kind that is no network job; nothing was started
};

// How long a job waits for its data connection to come up.
constexpr DWORD kConnectWaitMs = 20000;

// Runs the job that options->kind selects (kinds 1 to 4). A ListJobResult.
int RunListJob(const CommandOptions* options);
