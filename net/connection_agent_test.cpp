#include "net/connection_agent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/connmgr.h"
#include "platform/memory.h"
#include "platform/sync.h"
#include "tests/support/test_support.h"

namespace {

using platform::ConnectionScript;
using platform::ConnectionScriptItem;
using namespace std::chrono_literals;
using zemlik::testing::WString;

constexpr auto kPatience = 10s;  // a bound for waits that end at once when all is well

// The connection manager as the tests script it: statuses handed to the
// connection at establish, answers that fail on request, an establish that can
// be held back, and the release's cache value.
class FakeManager : public platform::ConnectionManager {
 public:
  HRESULT MapUrl(LPCWSTR url, GUID* destination) override {
    std::lock_guard<std::mutex> lock(mutex_);
    mapped = url;
    if (FAILED(mapAnswer)) return mapAnswer;
    *destination = network;
    return S_OK;
  }

  HRESULT Establish(const CONNMGR_CONNECTIONINFO& request, ConnectionScript* script) override {
    std::unique_lock<std::mutex> lock(mutex_);
    std::memcpy(requestBytes, &request, sizeof request);
    establishEntered = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !holdEstablish; });
    *script = ConnectionScript{};
    for (DWORD status : statuses) {
      script->items[script->count++] = {ConnectionScriptItem::kStatus, status};
    }
    return establishAnswer;
  }

  HRESULT Status(DWORD status) override { return statusAnswer; }

  HRESULT ProxyConfig(PROXY_CONFIG* config) override {
    if (proxyType != 0) config->dwType = proxyType;
    std::memcpy(config->szProxyServer, TEXT("proxy.example:8080"), 38);
    std::memcpy(config->szUsername, TEXT("user"), 10);
    std::memcpy(config->szPassword, TEXT("secret"), 14);
    return proxyAnswer;
  }

  void Released(LONG cache) override {
    std::lock_guard<std::mutex> lock(mutex_);
    releasedWith = cache;
    ++releases;
    changed_.notify_all();
  }

  void ReleaseEstablish() {
    std::lock_guard<std::mutex> lock(mutex_);
    holdEstablish = false;
    changed_.notify_all();
  }

  bool WaitForEstablish() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience, [this] { return establishEntered; });
  }

  // The cache value of the first release, or -1 when none came in time.
  LONG WaitForRelease() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kPatience, [this] { return releases > 0; });
    return releasedWith;
  }

  // Set before the agent starts; read after the worker ended.
  std::vector<DWORD> statuses;
  HRESULT mapAnswer = S_OK;
  HRESULT establishAnswer = S_OK;
  HRESULT statusAnswer = S_OK;
  HRESULT proxyAnswer = S_OK;
  DWORD proxyType = 0;  // 0: leave the agent's type as it is
  GUID network = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}};
  bool holdEstablish = false;

  WString mapped;
  BYTE requestBytes[64] = {};
  bool establishEntered = false;
  LONG releasedWith = -1;
  int releases = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

// The program's agent with every notification noted, in order, before the
// inherited operation runs.
class RecordingAgent : public ProxyConnectionAgent {
 public:
  ~RecordingAgent() override { StopEveryWorker(); }

  HRESULT OnStatus(DWORD status) override { return ProxyConnectionAgent::OnStatus(status); }
  HRESULT OnConnecting() override {
    Note("connecting");
    return ProxyConnectionAgent::OnConnecting();
  }
  HRESULT OnFailed() override {
    Note("failed");
    return ProxyConnectionAgent::OnFailed();
  }
  HRESULT OnConnected() override {
    Note("connected");
    return ProxyConnectionAgent::OnConnected();
  }
  HRESULT OnDisconnected() override {
    Note("disconnected");
    return ProxyConnectionAgent::OnDisconnected();
  }
  HRESULT OnWaiting() override {
    Note("waiting");
    return ProxyConnectionAgent::OnWaiting();
  }
  HRESULT OnExit() override {
    Note("exit");
    return ProxyConnectionAgent::OnExit();
  }

  std::string Notes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_;
  }
  // Waits until the notes end with `tail`; the notes then.
  std::string WaitForNotes(const std::string& tail) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kPatience, [&] {
      return notes_.size() >= tail.size() &&
             notes_.compare(notes_.size() - tail.size(), tail.size(), tail) == 0;
    });
    return notes_;
  }

  // Fields, read only while no worker runs.
  WString Url() const { return url != nullptr ? WString(url) : TEXT("(null)"); }
  BOOL ProxyRequested() const { return proxyRequested; }
  LONG CacheOnRelease() const { return cacheOnRelease; }
  DWORD LastStatus() const { return lastStatus; }
  HANDLE WorkerThread() const { return workerThread; }
  BOOL ProxyFound() const { return proxyFound; }
  const PROXY_CONFIG& ProxyConfig() const { return proxyConfig; }
  const GUID& DestNetwork() const { return destNetwork; }
  HANDLE Connection() const { return connection; }
  void SetCacheOnRelease(LONG value) { cacheOnRelease = value; }
  void DropStopEvent() {
    CloseHandle(stopEvent);
    stopEvent = nullptr;
  }

 private:
  void Note(const char* what) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!notes_.empty()) notes_ += ' ';
    notes_ += what;
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::string notes_;
};

class ConnectionAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = std::make_unique<FakeManager>();
    platform::SetConnectionManagerForTesting(manager_.get());
    ConnectedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    agent_ = std::make_unique<RecordingAgent>();
  }
  void TearDown() override {
    agent_.reset();
    CloseHandle(ConnectedEvent);
    ConnectedEvent = nullptr;
    platform::SetConnectionManagerForTesting(nullptr);
    manager_.reset();
  }

  // Starts the agent as the job does and returns Start's result.
  HRESULT StartAgent() { return agent_->Start(TEXT("http://www.portal.example"), FALSE); }

  bool ConnectedEventSet() { return WaitForSingleObject(ConnectedEvent, 0) == WAIT_OBJECT_0; }

  std::unique_ptr<FakeManager> manager_;
  std::unique_ptr<RecordingAgent> agent_;
};

TEST_F(ConnectionAgentTest, WaitingThenConnectedReadsTheProxyAndKeepsWatchingUntilStop) {
  manager_->statuses = {0x40, 0x10};
  ASSERT_EQ(StartAgent(), 0);
  ASSERT_EQ(WaitForSingleObject(ConnectedEvent, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(agent_->Notes(), "connecting waiting connected");
  EXPECT_FALSE(agent_->WorkerEnded());

  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_TRUE(agent_->WorkerEnded());
  EXPECT_EQ(agent_->WorkerThread(), nullptr);
  EXPECT_EQ(agent_->Notes(), "connecting waiting connected exit");
  EXPECT_EQ(manager_->WaitForRelease(), 0);
  EXPECT_EQ(agent_->Connection(), nullptr);
  EXPECT_EQ(agent_->LastStatus(), 0x10u);
  EXPECT_EQ(manager_->mapped, TEXT("http://www.portal.example"));

  // The request record, byte for byte: size, mask, flags, priority, exclusive,
  // disabled, the mapped network, six zero fields.
  const BYTE expected[64] = {64,   0,    0,    0,    1,    0,    0,    0,    0,    0,
                             0,    0,    0,    0x80, 0,    0,    0,    0,    0,    0,
                             0,    0,    0,    0,    0x44, 0x33, 0x22, 0x11, 0x66, 0x55,
                             0x88, 0x77, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00};
  EXPECT_EQ(std::memcmp(manager_->requestBytes, expected, 64), 0);

  // An HTTP proxy answer: found, the server kept, the credentials wiped.
  EXPECT_EQ(agent_->ProxyFound(), TRUE);
  PROXY_CONFIG record{};
  record.dwType = CONNMGR_FLAG_PROXY_HTTP;
  std::memcpy(record.szProxyServer, TEXT("proxy.example:8080"), 38);
  EXPECT_EQ(std::memcmp(&agent_->ProxyConfig(), &record, sizeof record), 0);
}

TEST_F(ConnectionAgentTest, ConnectedTwiceSetsTheEventTwiceWhichOneWaitConsumes) {
  manager_->statuses = {0x10, 0x10};
  ASSERT_EQ(StartAgent(), 0);
  EXPECT_EQ(agent_->WaitForNotes("connected connected"), "connecting connected connected");
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_EQ(agent_->Notes(), "connecting connected connected exit");
  EXPECT_TRUE(ConnectedEventSet());
  EXPECT_FALSE(ConnectedEventSet());
}

TEST_F(ConnectionAgentTest, FailureStatusesShowTheDisplayAndEndTheWorker) {
  struct Case {
    DWORD status;
    const char* notes;
    const char* display;
    LONG cache;
  };
  const Case cases[] = {
      {0x21, "connecting failed exit", ":MSREMNET -CMERROR 0x21 -report\n", 0},
      {0x20, "connecting disconnected exit", "", 1},
      {0x60, "connecting failed exit", ":MSREMNET -CMERROR 0x60 -report\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    TearDown();
    SetUp();
    manager_->statuses = {c.status};
    testing::internal::CaptureStderr();
    ASSERT_EQ(StartAgent(), 0);
    const LONG cache = manager_->WaitForRelease();
    EXPECT_EQ(agent_->WaitForNotes("exit"), c.notes);
    EXPECT_EQ(agent_->Stop(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.display);
    EXPECT_EQ(cache, c.cache);
    EXPECT_EQ(agent_->CacheOnRelease(), c.cache);
    EXPECT_EQ(agent_->LastStatus(), c.status);
    EXPECT_TRUE(agent_->WorkerEnded());
    EXPECT_FALSE(ConnectedEventSet());
  }
}

TEST_F(ConnectionAgentTest, OtherStatusesAreIgnored) {
  manager_->statuses = {0x11, 0x80, 0x00, 0x10};
  ASSERT_EQ(StartAgent(), 0);
  ASSERT_EQ(WaitForSingleObject(ConnectedEvent, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(agent_->Notes(), "connecting connected");
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_EQ(agent_->Notes(), "connecting connected exit");
  EXPECT_EQ(manager_->WaitForRelease(), 0);
}

// OnStatus called directly: each value's operation, result and cache value.
TEST_F(ConnectionAgentTest, OnStatusTestsTheBitsInOrder) {
  struct Case {
    DWORD status;
    const char* notes;
    HRESULT result;
    LONG cache;  // after a start value of 7
  };
  const Case cases[] = {
      {0x10, "connected", 0, 7},
      {0x11, "", 0, 7},
      {0x80, "", 0, 7},
      {0x40, "waiting", 0, 7},
      {0x50, "waiting", 0, 7},
      {0x20, "disconnected", E_FAIL, 1},
      {0x21, "failed", E_FAIL, 0},
      {0x60, "failed", E_FAIL, 0},
      {0x30, "failed", E_FAIL, 0},
  };
  testing::internal::CaptureStderr();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    agent_ = std::make_unique<RecordingAgent>();
    agent_->SetCacheOnRelease(7);
    EXPECT_EQ(agent_->OnStatus(c.status), c.result);
    EXPECT_EQ(agent_->Notes(), c.notes);
    EXPECT_EQ(agent_->CacheOnRelease(), c.cache);
  }
  // The display shows lastStatus, which only the worker sets.
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            ":MSREMNET -CMERROR 0x0 -report\n"
            ":MSREMNET -CMERROR 0x0 -report\n"
            ":MSREMNET -CMERROR 0x0 -report\n");
  // The base class reads the proxy but sets nothing; the derived one sets the event.
  EXPECT_TRUE(ConnectedEventSet());  // by the case of 0x10
  ConnectionAgent plain;
  EXPECT_EQ(plain.OnConnected(), 0);
  EXPECT_FALSE(ConnectedEventSet());
  EXPECT_EQ(agent_->OnConnected(), 0);
  EXPECT_TRUE(ConnectedEventSet());
}

TEST_F(ConnectionAgentTest, RefusedEstablishShowsTheDisplayWithTheLastStatus) {
  manager_->establishAnswer = E_FAIL;
  testing::internal::CaptureStderr();
  ASSERT_EQ(StartAgent(), 0);
  EXPECT_EQ(agent_->WaitForNotes("exit"), "failed exit");
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), ":MSREMNET -CMERROR 0x0 -report\n");
  EXPECT_EQ(manager_->releases, 0);
  EXPECT_EQ(agent_->CacheOnRelease(), 0);
  EXPECT_EQ(agent_->Connection(), nullptr);
  EXPECT_FALSE(ConnectedEventSet());
}

TEST_F(ConnectionAgentTest, FailedStatusReadEndsTheWorkerWithItsResult) {
  manager_->statuses = {0x10};
  manager_->statusAnswer = static_cast<HRESULT>(0x80041111u);
  ASSERT_EQ(StartAgent(), 0);
  EXPECT_EQ(manager_->WaitForRelease(), 0);
  EXPECT_EQ(agent_->WaitForNotes("exit"), "connecting exit");
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_EQ(agent_->LastStatus(), 0x80041111u);
  EXPECT_FALSE(ConnectedEventSet());
}

TEST_F(ConnectionAgentTest, FailingOrNonHttpProxyAnswerStillSetsTheEvent) {
  struct Case {
    HRESULT answer;
    DWORD type;
    DWORD typeLeft;
  };
  for (const Case& c : {Case{E_FAIL, 0, CONNMGR_FLAG_PROXY_HTTP}, Case{S_OK, 2, 2}}) {
    TearDown();
    SetUp();
    manager_->statuses = {0x10};
    manager_->proxyAnswer = c.answer;
    manager_->proxyType = c.type;
    ASSERT_EQ(StartAgent(), 0);
    ASSERT_EQ(WaitForSingleObject(ConnectedEvent, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(agent_->Stop(), 0);
    EXPECT_EQ(agent_->ProxyFound(), FALSE);
    // The record holds what the provider left, credentials included.
    PROXY_CONFIG record{};
    record.dwType = c.typeLeft;
    std::memcpy(record.szProxyServer, TEXT("proxy.example:8080"), 38);
    std::memcpy(record.szUsername, TEXT("user"), 10);
    std::memcpy(record.szPassword, TEXT("secret"), 14);
    EXPECT_EQ(std::memcmp(&agent_->ProxyConfig(), &record, sizeof record), 0);
  }
}

TEST_F(ConnectionAgentTest, StopWithoutAWorkerOrAfterItEnded) {
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_TRUE(agent_->WorkerEnded());

  manager_->statuses = {0x20};
  ASSERT_EQ(StartAgent(), 0);
  EXPECT_EQ(manager_->WaitForRelease(), 1);
  EXPECT_NE(agent_->WorkerThread(), nullptr);  // kept until Stop
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_EQ(agent_->WorkerThread(), nullptr);
  EXPECT_TRUE(agent_->WorkerEnded());
  EXPECT_EQ(agent_->Stop(), 0);
}

// Stop made while the worker is still in its establish call is dropped when the
// worker enters its loop: Stop gives up after its wait and the worker watches on.
TEST_F(ConnectionAgentTest, StopBeforeTheWorkerReachedItsLoopIsDropped) {
  manager_->holdEstablish = true;
  ASSERT_EQ(StartAgent(), 0);
  ASSERT_TRUE(manager_->WaitForEstablish());
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_EQ(agent_->WorkerThread(), nullptr);
  EXPECT_FALSE(agent_->WorkerEnded());

  manager_->ReleaseEstablish();
  EXPECT_EQ(agent_->WaitForNotes("connecting"), "connecting");
  EXPECT_EQ(platform::PostConnectionStatusForTesting(0x10), 1);
  ASSERT_EQ(WaitForSingleObject(ConnectedEvent, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(agent_->Notes(), "connecting connected");

  EXPECT_EQ(platform::PostConnectionStatusForTesting(0x20), 1);
  EXPECT_EQ(manager_->WaitForRelease(), 1);
  EXPECT_EQ(agent_->WaitForNotes("exit"), "connecting connected disconnected exit");
}

// A worker that outlived Stop's wait is stopped by the destruction, which asks
// it again once it has reached its loop.
TEST_F(ConnectionAgentTest, DestructionEndsAWorkerThatOutlivedStop) {
  manager_->holdEstablish = true;
  manager_->statuses = {0x10};
  ASSERT_EQ(StartAgent(), 0);
  ASSERT_TRUE(manager_->WaitForEstablish());
  EXPECT_EQ(agent_->Stop(), 0);
  manager_->ReleaseEstablish();
  ASSERT_EQ(WaitForSingleObject(ConnectedEvent, 10000), WAIT_OBJECT_0);
  agent_.reset();
  EXPECT_EQ(manager_->WaitForRelease(), 0);
}

TEST_F(ConnectionAgentTest, StartEndsAWorkerThatOutlivedStopBeforeItStartsAnother) {
  manager_->holdEstablish = true;
  ASSERT_EQ(StartAgent(), 0);
  ASSERT_TRUE(manager_->WaitForEstablish());
  EXPECT_EQ(agent_->Stop(), 0);
  manager_->ReleaseEstablish();
  EXPECT_EQ(agent_->WaitForNotes("connecting"), "connecting");

  manager_->statuses = {0x10};
  ASSERT_EQ(StartAgent(), 0);
  EXPECT_EQ(manager_->releases, 1);
  ASSERT_EQ(WaitForSingleObject(ConnectedEvent, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_EQ(agent_->Notes(), "connecting exit connecting connected exit");
}

TEST_F(ConnectionAgentTest, StartWithoutAStopEventStillCopiesAndMapsTheUrl) {
  agent_->DropStopEvent();
  manager_->mapAnswer = static_cast<HRESULT>(0x80049999u);
  EXPECT_EQ(agent_->Start(TEXT("http://a.example"), TRUE), E_INVALIDARG);
  EXPECT_EQ(manager_->mapped, TEXT("http://a.example"));
  EXPECT_EQ(agent_->Url(), TEXT("http://a.example"));
  EXPECT_EQ(agent_->ProxyRequested(), TRUE);
  EXPECT_EQ(agent_->WorkerThread(), nullptr);

  manager_->mapAnswer = S_OK;
  EXPECT_EQ(agent_->Start(nullptr, FALSE), E_INVALIDARG);
  EXPECT_EQ(agent_->Url(), TEXT("http://a.example"));
  EXPECT_EQ(std::memcmp(&agent_->DestNetwork(), &manager_->network, sizeof(GUID)), 0);
  EXPECT_EQ(agent_->WorkerThread(), nullptr);
  EXPECT_TRUE(agent_->WorkerEnded());
}

TEST_F(ConnectionAgentTest, StartReportsAFailedMappingOrCopy) {
  EXPECT_EQ(agent_->Start(nullptr, FALSE), E_INVALIDARG);  // no URL stored yet
  manager_->mapAnswer = static_cast<HRESULT>(0x80049999u);
  EXPECT_EQ(agent_->Start(TEXT("http://b.example"), FALSE), static_cast<HRESULT>(0x80049999u));
  EXPECT_EQ(agent_->WorkerThread(), nullptr);

  manager_->mapAnswer = S_OK;
  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(1);
  EXPECT_EQ(agent_->Start(TEXT("http://c.example"), FALSE), E_OUTOFMEMORY);
  platform::SetAllocationFailureForTesting(0);
  EXPECT_EQ(agent_->Url(), TEXT("(null)"));
  EXPECT_EQ(agent_->WorkerThread(), nullptr);

  // A proxy request goes out in the request record's flags.
  manager_->statuses = {0x10};
  ASSERT_EQ(agent_->Start(TEXT("http://c.example"), TRUE), 0);
  ASSERT_EQ(WaitForSingleObject(ConnectedEvent, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_EQ(manager_->requestBytes[8], 1);
}

}  // namespace
