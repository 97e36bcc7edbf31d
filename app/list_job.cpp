// The network jobs: bring up the connection, fetch the month's source, hand it to its parser.
#include "app/list_job.h"

#include "http/charset.h"
#include "http/fetch.h"
#include "http/outcome.h"
#include "lists/release_list.h"
#include "net/connection_agent.h"
#include "platform/memory.h"
#include "platform/scoped.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/time.h"

namespace {

using platform::LocalAllocArray;
using platform::LocalPtr;

// Where the jobs go. The probe URL is never fetched: the connection manager
// maps it to choose the network that serves the web.
//
//   probe URL               http://www.portal.example    (every network job)
//   comic-ta, bunko-ta      http://www.bookshop.example  /comic/comicYYMM_listdate.html
//                                                        /bunko/bunkoYYMM_listdate.html
//   comic-wf                http://www.booklist.example  /review/kurodai/data/booklist/monYY.csv
//   url                     the /u: value as given
constexpr WCHAR kProbeUrl[] = TEXT("http://www.portal.example");
constexpr WCHAR kBookshopSite[] = TEXT("http://www.bookshop.example");
constexpr WCHAR kBooklistSite[] = TEXT("http://www.booklist.example");

// The booklist's month names by month number; entry 0 is the empty string.
constexpr const WCHAR* kMonthNames[13] = {
    TEXT(""),    TEXT("jan"), TEXT("feb"), TEXT("mar"), TEXT("apr"), TEXT("may"), TEXT("jun"),
    TEXT("jul"), TEXT("aug"), TEXT("sep"), TEXT("oct"), TEXT("nov"), TEXT("dec"),
};

// Every source is fetched with GET, no post data, the URL's own port and no
// credentials: the sites serve their lists to anyone, and a /u: URL carries its own.
constexpr WCHAR kMethod[] = TEXT("GET");
constexpr WCHAR kNoPostData[] = TEXT("");
constexpr int kDefaultPort = -1;

struct ListSource {
  int kind;
  const WCHAR* site;
  const WCHAR* pathFormat;  // comic-ta, bunko-ta: year - 2000, month; comic-wf: name, year - 2000
  int noUrlBuffer;
  int notFetched;
};

constexpr ListSource kSources[] = {
    {kListComicTa, kBookshopSite, TEXT("/comic/comic%02d%02d_listdate.html"), kJobComicNoUrlBuffer,
     kJobComicNotFetched},
    {kListBunkoTa, kBookshopSite, TEXT("/bunko/bunko%02d%02d_listdate.html"), kJobBunkoNoUrlBuffer,
     kJobBunkoNotFetched},
    {kListComicWf, kBooklistSite, TEXT("/review/kurodai/data/booklist/%s%02d.csv"),
     kJobBooklistNoUrlBuffer, kJobBooklistNotFetched},
};

const ListSource* SourceOf(int kind) {
  for (const ListSource& source : kSources) {
    if (source.kind == kind) return &source;
  }
  return nullptr;
}

// The source URL of a list job, or empty when the buffer cannot be had. Room
// for the site, the format and two numbers of up to 11 characters each, so
// every year and month fits.
LocalPtr<WCHAR[]> SourceUrl(const ListSource& source, const SYSTEMTIME& date) {
  const SIZE_T siteLength = wcslen(source.site);
  const SIZE_T capacity = siteLength + wcslen(source.pathFormat) + 2 * 11 + 1;
  LocalPtr<WCHAR[]> url = LocalAllocArray<WCHAR>(capacity);
  if (!url) return url;
  wcscpy(url.get(), source.site);
  const int year = static_cast<int>(date.wYear) - 2000;
  const int month = date.wMonth;
  if (source.kind == kListComicWf) {
    StringCchPrintfW(url.get() + siteLength, capacity - siteLength, source.pathFormat,
                     kMonthNames[month], year);
  } else {
    StringCchPrintfW(url.get() + siteLength, capacity - siteLength, source.pathFormat, year, month);
  }
  return url;
}

// Stops the agent and closes ConnectedEvent, unless a worker outlived the stop:
// it could still set the event, which then stays open until the process ends.
void StopAgent() {
  ProxyAgent.Stop();
  if (!ProxyAgent.WorkerEnded()) return;
  CloseHandle(ConnectedEvent);
  ConnectedEvent = nullptr;
}

// Each job below returns its ListJobResult; the caller stops the agent.

// Fetches the release-list page and hands it to the list's parser.
int RunReleaseList(const ListSource& source, const CommandOptions* options) {
  LocalPtr<WCHAR[]> url = SourceUrl(source, options->targetDate);
  if (!url) return source.noUrlBuffer;
  LPWSTR page = nullptr;
  if (GetUrlText(url.get(), kNoPostData, kDefaultPort, nullptr, nullptr, kMethod, kCharsetSjis,
                 &page) != 0) {
    return source.notFetched;
  }
  url.reset();
  LocalPtr<WCHAR> pageText(page);
  // The records carry the year of the list asked for, not the clock's: December's run for
  // January's list must not date January's books a year early.
  const WORD year = options->targetDate.wYear;
  const int parsed = source.kind == kListComicTa
                         ? ParseComicList(pageText.get(), options->outputPath, year)
                         : ParseBunkoList(pageText.get(), options->outputPath, year);
  // A malformed page still gave the records before it; a file that could not
  // be made or written did not.
  return parsed == kListFileNotCreated || parsed == kListWriteFailed ? kJobListNotWritten
                                                                     : kJobDone;
}

int RunBooklist(const ListSource& source, const CommandOptions* options) {
  LocalPtr<WCHAR[]> url = SourceUrl(source, options->targetDate);
  if (!url) return source.noUrlBuffer;
  if (GetUrlFile(url.get(), kNoPostData, kDefaultPort, nullptr, nullptr, kMethod, kCharsetSjis,
                 options->outputPath) != 0) {
    return source.notFetched;
  }
  return kJobDone;
}

int RunUrl(const CommandOptions* options) {
  // A null URL (no /u:) is handed on: the fetch cannot split it and makes no file.
  if (GetUrlFile(options->url, kNoPostData, kDefaultPort, nullptr, nullptr, kMethod,
                 options->charset, options->outputPath) != 0) {
    return kJobUrlNotFetched;
  }
  return kJobDone;
}

}  // namespace

int RunListJob(const CommandOptions* options) {
  const ListSource* source = SourceOf(options->kind);
  if (source == nullptr && options->kind != kListUrl) return kJobUnknownKind;
  // kMonthNames has no entry beyond December: refuse before anything starts.
  if (options->kind == kListComicWf && options->targetDate.wMonth > 12) {
    return kJobBooklistBadMonth;
  }

  Outcome.stage = kStageConnection;
  ConnectedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (ConnectedEvent == nullptr) return kJobAgentNotStarted;
  if (FAILED(ProxyAgent.Start(kProbeUrl, FALSE))) {
    CloseHandle(ConnectedEvent);
    ConnectedEvent = nullptr;
    return kJobAgentNotStarted;
  }
  if (WaitForSingleObject(ConnectedEvent, platform::ConnectionWaitMs(kConnectWaitMs)) !=
      WAIT_OBJECT_0) {
    StopAgent();
    return kJobNotConnected;
  }
  Outcome.stage = kStageFetch;

  int result;
  switch (options->kind) {
    case kListComicTa:
    case kListBunkoTa:
      result = RunReleaseList(*source, options);
      break;
    case kListComicWf:
      result = RunBooklist(*source, options);
      break;
    default:
      result = RunUrl(options);
      break;
  }
  // Without its URL buffer a list job returns at once, leaving the agent running
  // and the event open: the agent's destruction at exit stops the worker.
  if (source != nullptr && result == source->noUrlBuffer) return result;
  StopAgent();
  return result;
}
