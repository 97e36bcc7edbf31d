// The job driver in process, where the seams reach: kinds it does not run, and
// ConnectedEvent outliving a worker that outlived Stop. What the jobs send and store, and
// how they end when memory runs out, is pinned end to end in tests/.
#include "app/list_job.h"

#include <gtest/gtest.h>

#include <atomic>

#include "http/charset.h"
#include "net/connection_agent.h"
#include "platform/sync.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

// The job gives up after its connection wait (shortened here), and Stop's 3 s run out while the
// worker is held in its establish call: the event stays open, and the late worker can still set it.
TEST(ListJob, AWorkerThatOutlivesStopFindsConnectedEventStillOpen) {
  struct Held : platform::ConnectionManager {
    HRESULT Establish(const CONNMGR_CONNECTIONINFO&, platform::ConnectionScript* script) override {
      while (holding) Sleep(5);
      *script = {false, 1, {{platform::ConnectionScriptItem::kStatus, CONNMGR_STATUS_CONNECTED}}};
      return S_OK;
    }
    std::atomic<bool> holding = true;
  } manager;
  platform::SetConnectionManagerForTesting(&manager);
  platform::SetConnectionWaitForTesting(100);
  CommandOptions options{kListComicTa, {2008, 12}, nullptr, kCharsetSjis, {}};
  for (int kind : {0, static_cast<int>(kListNowTime), 6}) {
    options.kind = kind;
    EXPECT_EQ(RunListJob(&options), kJobUnknownKind);  // before anything starts
    EXPECT_EQ(ConnectedEvent, nullptr);
  }
  options.kind = kListComicTa;
  EXPECT_EQ(RunListJob(&options), kJobNotConnected);
  EXPECT_FALSE(ProxyAgent.WorkerEnded());
  ASSERT_NE(ConnectedEvent, nullptr);
  manager.holding = false;
  EXPECT_EQ(WaitForSingleObject(ConnectedEvent, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(platform::PostConnectionStatusForTesting(CONNMGR_STATUS_DISCONNECTED), 1);
  for (int i = 0; i < 1000 && !ProxyAgent.WorkerEnded(); ++i) Sleep(10);
  EXPECT_TRUE(ProxyAgent.WorkerEnded());
  CloseHandle(ConnectedEvent);
  ConnectedEvent = nullptr;
  platform::SetConnectionManagerForTesting(nullptr);
  platform::SetConnectionWaitForTesting(0);
}

}  // namespace
}  // namespace zemlik::test
