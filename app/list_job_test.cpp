// The job driver in-process, where the seams reach: allocation failures, a
// connection manager that holds the worker back, and the life of ConnectedEvent.
// The jobs' outputs and request lines are pinned end to end in tests/jobs_test.cpp.
#include "app/list_job.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "http/charset.h"
#include "net/connection_agent.h"
#include "platform/connmgr.h"
#include "platform/memory.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "tests/support/cp932.h"
#include "tests/support/http_fixture.h"
#include "tests/support/test_support.h"

namespace {

using zemlik::testing::Cp932;
using zemlik::testing::ReadFileBytes;
using zemlik::testing::TempFolder;
using zemlik::testing::Utf16;
using zemlik::testing::WString;

const std::string kComicPage =
    "<p>2件を表示します。</p><table>"
    "<li>12/05　　講談社　　海辺の図書館　　青山ミナト　　\\450　　新刊　　</li>"
    "<li>12/12　　集英社　　星をかぞえる猫　　小川ひより　　\\420　　　　</li></table>";
const std::string kComicCsv =
    "date,company,title,author,price,memo\r\n"
    "2008/12/05,講談社,海辺の図書館,青山ミナト,450,新刊\r\n"
    "2008/12/12,集英社,星をかぞえる猫,小川ひより,420,\r\n";
const std::string kBunkoPage =
    "<p>1件を表示します。</p><table>"
    "<li>12/08　　新潮社　　新潮文庫　　古い港町の話　　川端ゆう　　\\590　　</table>";
const std::string kBunkoCsv =
    "date,company,category,title,author,price\r\n"
    "2008/12/08,新潮社,新潮文庫,古い港町の話,川端ゆう,590\r\n";
const std::string kBooklist = "発売日,書名\r\n12/05,海辺の図書館\r\n";

class FixedClock : public platform::Clock {
 public:
  void Now(SYSTEMTIME* out) override { *out = SYSTEMTIME{2008, 12, 0, 21, 3, 3, 17, 0}; }
};

class ListJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    server_.Route(HttpRoute("/comic/comic0812_listdate.html", Cp932(kComicPage)));
    server_.Route(HttpRoute("/bunko/bunko0812_listdate.html", Cp932(kBunkoPage)));
    server_.Route(HttpRoute("/review/kurodai/data/booklist/dec08.csv", Cp932(kBooklist)));
    server_.Route(HttpRoute("/any.txt", "any"));
    platform::SetClockForTesting(&clock_);
    options_.targetDate = SYSTEMTIME{2008, 12, 0, 0, 0, 0, 0, 0};
    options_.url = nullptr;
    options_.charset = kCharsetSjis;
    const WString path = Utf16(outputPath_);
    ASSERT_LT(path.size(), kOutputPathLength);
    path.copy(options_.outputPath, path.size());
    options_.outputPath[path.size()] = 0;
  }
  void TearDown() override { platform::SetClockForTesting(nullptr); }

  TempFolder folder_;
  std::string outputPath_ = folder_.Join("out.csv");
  HttpFixture server_;
  ScopedNoProxy hostProxies_;
  ScopedEnvVar proxy_{"http_proxy", server_.BaseUrl()};
  ScopedEnvVar connmgr_{"ZEMLIK_CONNMGR", nullptr};
  FixedClock clock_;
  CommandOptions options_{};
};

// Each allocation of a job failing in turn: the job's own codes, never a crash, a
// leak or a stray handle; the agent and ConnectedEvent are put away on every row
// but those that return at once without their URL buffer.
TEST_F(ListJobTest, EveryAllocationFailureGivesOneOfTheJobsCodes) {
  struct Case {
    int kind;
    int noBuffer;
    int notFetched;
    std::string output;
  };
  const Case cases[] = {
      {kListComicTa, kJobComicNoUrlBuffer, kJobComicNotFetched, Cp932(kComicCsv)},
      {kListBunkoTa, kJobBunkoNoUrlBuffer, kJobBunkoNotFetched, Cp932(kBunkoCsv)},
      {kListComicWf, kJobBooklistNoUrlBuffer, kJobBooklistNotFetched, Cp932(kBooklist) + "\r\n"},
      {kListUrl, 0, kJobUrlNotFetched, "any\r\n"},
  };
  const WString anyUrl = TEXT("http://files.example/any.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    options_.kind = c.kind;
    options_.url = c.kind == kListUrl ? const_cast<WCHAR*>(anyUrl.c_str()) : nullptr;
    std::vector<int> results;
    for (unsigned long failAt = 1; failAt < 200; ++failAt) {
      platform::ResetAllocationCountForTesting();
      platform::SetAllocationFailureForTesting(failAt);
      const int result = RunListJob(&options_);
      platform::SetAllocationFailureForTesting(0);
      const bool injected = platform::AllocationCountForTesting() >= failAt;
      results.push_back(result);
      if (result == c.noBuffer && c.noBuffer != 0) {
        // Returned at once: the worker still runs and the event is still open.
        EXPECT_FALSE(ProxyAgent.WorkerEnded());
        EXPECT_NE(ConnectedEvent, nullptr);
        ProxyAgent.Stop();
        ASSERT_TRUE(ProxyAgent.WorkerEnded());
        CloseHandle(ConnectedEvent);
        ConnectedEvent = nullptr;
      }
      EXPECT_TRUE(ProxyAgent.WorkerEnded());
      EXPECT_EQ(ConnectedEvent, nullptr);
      if (!injected) {
        EXPECT_EQ(result, kJobDone);
        EXPECT_EQ(ReadFileBytes(outputPath_), c.output);
        break;
      }
    }
    ASSERT_GE(results.size(), 3u);
    // The agent's copy of the probe URL comes first, then the job's URL buffer.
    EXPECT_EQ(results[0], kJobAgentNotStarted);
    const size_t firstFetch = c.noBuffer != 0 ? 2 : 1;
    if (c.noBuffer != 0) {
      EXPECT_EQ(results[1], c.noBuffer);
    }
    EXPECT_EQ(results[firstFetch], c.notFetched);
    for (size_t i = firstFetch; i + 1 < results.size(); ++i) {
      const int r = results[i];
      EXPECT_TRUE(r == c.notFetched || r == kJobDone || r == kJobListNotWritten) << i << ": " << r;
    }
  }
}

TEST_F(ListJobTest, RefusedRequestsStartNothing) {
  options_.kind = kListComicWf;
  options_.targetDate.wMonth = 13;
  EXPECT_EQ(RunListJob(&options_), kJobBooklistBadMonth);
  for (int kind : {0, static_cast<int>(kListNowTime), 6}) {
    options_.kind = kind;
    EXPECT_EQ(RunListJob(&options_), kJobUnknownKind);
  }
  EXPECT_EQ(ConnectedEvent, nullptr);
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_TRUE(folder_.List().empty());
}

// Holds the worker in its establish call until released, then connects.
class HeldManager : public platform::ConnectionManager {
 public:
  HRESULT Establish(const CONNMGR_CONNECTIONINFO& request,
                    platform::ConnectionScript* script) override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !holding_; });
    *script = platform::ConnectionScript{};
    script->count = 1;
    script->items[0] = {platform::ConnectionScriptItem::kStatus, CONNMGR_STATUS_CONNECTED};
    return S_OK;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = false;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool holding_ = true;
};

// The job gives up after its 20 s, and Stop's 3 s run out while the worker is
// still held: the event stays open, and the late worker can still set it.
TEST_F(ListJobTest, AWorkerThatOutlivesStopFindsConnectedEventStillOpen) {
  HeldManager manager;
  platform::SetConnectionManagerForTesting(&manager);
  options_.kind = kListComicTa;
  EXPECT_EQ(RunListJob(&options_), kJobNotConnected);
  EXPECT_FALSE(ProxyAgent.WorkerEnded());
  ASSERT_NE(ConnectedEvent, nullptr);

  manager.Release();
  EXPECT_EQ(WaitForSingleObject(ConnectedEvent, 10000), WAIT_OBJECT_0);
  // Left watching with no worker handle; it ends when the connection goes down.
  EXPECT_EQ(platform::PostConnectionStatusForTesting(CONNMGR_STATUS_DISCONNECTED), 1);
  for (int i = 0; i < 1000 && !ProxyAgent.WorkerEnded(); ++i) Sleep(10);
  EXPECT_TRUE(ProxyAgent.WorkerEnded());
  CloseHandle(ConnectedEvent);
  ConnectedEvent = nullptr;
  platform::SetConnectionManagerForTesting(nullptr);
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_TRUE(folder_.List().empty());
}

}  // namespace
