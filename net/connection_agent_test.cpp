// The connection agent against a scripted connection manager: what each status sequence
// and each failing answer gives, the request record, Start's checks, and a worker that
// outlives Stop.
#include "net/connection_agent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "platform/memory.h"
#include "platform/sync.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 1000 && !done(); ++i) Sleep(10);
  return done();
}

struct FakeManager : platform::ConnectionManager {
  HRESULT MapUrl(LPCWSTR, GUID* destination) override {
    *destination = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}};
    return mapAnswer;
  }
  HRESULT Establish(const CONNMGR_CONNECTIONINFO& request,
                    platform::ConnectionScript* script) override {
    std::memcpy(record, &request, sizeof record);
    for (entered = true; hold;) Sleep(5);
    *script = {};
    for (DWORD s : statuses)
      script->items[script->count++] = {platform::ConnectionScriptItem::kStatus, s};
    return establishAnswer;
  }
  HRESULT Status(DWORD) override { return statusAnswer; }
  HRESULT ProxyConfig(PROXY_CONFIG* config) override {
    if (proxyType != 0) config->dwType = proxyType;
    std::memcpy(config->szProxyServer, TEXT("proxy.example:8080"), 38);
    std::memcpy(config->szPassword, TEXT("secret"), 14);
    return proxyAnswer;
  }
  void Released(LONG cache) override { releases.push_back(cache); }  // read once the worker ended

  std::vector<DWORD> statuses;
  HRESULT mapAnswer = S_OK, establishAnswer = S_OK, statusAnswer = S_OK, proxyAnswer = S_OK;
  DWORD proxyType = 0;  // 0: the agent's own type stays
  std::atomic<bool> hold = false, entered = false;
  BYTE record[64] = {};
  std::vector<LONG> releases;
};

// The program's agent, each notification noted before the inherited one runs.
class RecordingAgent : public ProxyConnectionAgent {
 public:
  ~RecordingAgent() override { StopEveryWorker(); }
#define NOTED(Name, text)                \
  HRESULT Name() override {              \
    Note(text);                          \
    return ProxyConnectionAgent::Name(); \
  }
  NOTED(OnConnecting, "connecting")
  NOTED(OnFailed, "failed")
  NOTED(OnConnected, "connected")
  NOTED(OnDisconnected, "disconnected")
  NOTED(OnWaiting, "waiting")
  NOTED(OnExit, "exit")
#undef NOTED
  std::string Notes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_;
  }
  bool NotesHold(const std::string& part) {
    return Eventually([&] { return Notes().find(part) != std::string::npos; });
  }
  using ConnectionAgent::cacheOnRelease, ConnectionAgent::connection, ConnectionAgent::proxyConfig,
      ConnectionAgent::proxyFound, ConnectionAgent::stopEvent, ConnectionAgent::url,
      ConnectionAgent::workerThread;

 private:
  void Note(const char* what) {
    std::lock_guard<std::mutex> lock(mutex_);
    notes_ += (notes_.empty() ? "" : " ") + std::string(what);
  }
  std::mutex mutex_;
  std::string notes_;
};

class ConnectionAgentTest : public ::testing::Test {
 protected:
  ConnectionAgentTest() {
    platform::SetConnectionManagerForTesting(&manager_);
    ConnectedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }
  ~ConnectionAgentTest() override {
    agent_.reset();
    CloseHandle(ConnectedEvent);
    ConnectedEvent = nullptr;
    platform::SetConnectionManagerForTesting(nullptr);
  }
  HRESULT Start(BOOL proxy = FALSE) {
    return agent_->Start(TEXT("http://www.portal.example"), proxy);
  }
  bool Connected(DWORD wait = 0) {
    return WaitForSingleObject(ConnectedEvent, wait) == WAIT_OBJECT_0;
  }

  FakeManager manager_;
  std::unique_ptr<RecordingAgent> agent_ = std::make_unique<RecordingAgent>();
};

// Each run played to its end: the notifications, the connection-error display, the
// releases' cache values, the last status, the event (set once, waited once), the proxy.
TEST_F(ConnectionAgentTest, EachRunEndsAsItsStatusesAndAnswersSay) {
  const HRESULT kReadFailed = static_cast<HRESULT>(0x80041111u);
  const struct {
    std::vector<DWORD> statuses;
    std::string notes, display;
    std::vector<LONG> releases;
    HRESULT establish = S_OK, statusRead = S_OK, proxy = S_OK;
    DWORD proxyType = 0, typeLeft = CONNMGR_FLAG_PROXY_HTTP;
  } rows[] = {
      {{0x40, 0x10}, "connecting waiting connected exit", "", {0}},
      {{0x11, 0x80, 0x00, 0x50, 0x10}, "connecting waiting connected exit", "", {0}},
      {{0x21}, "connecting failed exit", ":MSREMNET -CMERROR 0x21 -report\n", {0}},
      {{0x60}, "connecting failed exit", ":MSREMNET -CMERROR 0x60 -report\n", {0}},
      {{0x30}, "connecting failed exit", ":MSREMNET -CMERROR 0x30 -report\n", {0}},
      {{0x10, 0x20}, "connecting connected disconnected exit", "", {1}},
      {{}, "failed exit", ":MSREMNET -CMERROR 0x0 -report\n", {}, E_FAIL},  // refused: no release
      {{0x10}, "connecting exit", "", {0}, S_OK, kReadFailed},
      // A failed or non-HTTP proxy answer: none found, the record as left, the event set.
      {{0x10}, "connecting connected exit", "", {0}, S_OK, S_OK, E_FAIL},
      {{0x10}, "connecting connected exit", "", {0}, S_OK, S_OK, S_OK, 2, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.notes + " " + std::to_string(row.statuses.empty() ? 0 : row.statuses.back()));
    agent_ = std::make_unique<RecordingAgent>();
    manager_.statuses = row.statuses;
    manager_.releases.clear();
    manager_.establishAnswer = row.establish;
    manager_.statusAnswer = row.statusRead;
    manager_.proxyAnswer = row.proxy;
    manager_.proxyType = row.proxyType;
    const bool up = row.notes.find("connected") != std::string::npos;
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(agent_->NotesHold(up ? "connected" : "exit"));
    EXPECT_EQ(agent_->Stop(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), row.display);
    EXPECT_EQ(agent_->Notes(), row.notes);
    EXPECT_EQ(manager_.releases, row.releases);
    EXPECT_EQ(agent_->LastStatus(), row.statusRead != S_OK ? static_cast<DWORD>(row.statusRead)
                                    : row.statuses.empty() ? 0
                                                           : row.statuses.back());
    EXPECT_EQ(Connected(), up);
    EXPECT_FALSE(Connected());
    EXPECT_TRUE(agent_->WorkerEnded() && agent_->workerThread == nullptr &&
                agent_->connection == nullptr);
    if (!up) continue;
    // An HTTP proxy is found with its server kept and the credentials wiped.
    const bool http = row.proxy == S_OK && row.proxyType == 0;
    EXPECT_EQ(agent_->proxyFound, http);
    EXPECT_EQ(agent_->proxyConfig.dwType, row.typeLeft);
    EXPECT_EQ(WString(agent_->proxyConfig.szProxyServer), TEXT("proxy.example:8080"));
    EXPECT_EQ(WString(agent_->proxyConfig.szPassword), http ? TEXT("") : TEXT("secret"));
  }
  // A status alone: only a failure or a disconnection changes the cache value; only the
  // program's agent sets the event.
  agent_->cacheOnRelease = 7;
  EXPECT_EQ(agent_->OnStatus(0x11) + agent_->OnStatus(0x80) + agent_->OnStatus(0x40), 0);
  EXPECT_EQ(agent_->cacheOnRelease, 7);
  EXPECT_EQ(agent_->OnStatus(0x20), E_FAIL);
  EXPECT_EQ(agent_->cacheOnRelease, 1);
  ConnectionAgent plain;
  EXPECT_EQ(plain.OnConnected(), 0);
  EXPECT_FALSE(Connected());
  // The request record: size, mask, flags, priority, exclusive, disabled, the network.
  const BYTE expected[64] = {64,   0,    0,    0,    1,    0,    0,    0,    0,    0,
                             0,    0,    0,    0x80, 0,    0,    0,    0,    0,    0,
                             0,    0,    0,    0,    0x44, 0x33, 0x22, 0x11, 0x66, 0x55,
                             0x88, 0x77, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00};
  EXPECT_EQ(std::memcmp(manager_.record, expected, 64), 0);
}

TEST_F(ConnectionAgentTest, StartChecksItsStopEventTheMappingAndTheCopy) {
  EXPECT_EQ(agent_->Start(nullptr, FALSE), E_INVALIDARG);  // no URL stored yet
  manager_.mapAnswer = static_cast<HRESULT>(0x80049999u);
  EXPECT_EQ(agent_->Start(TEXT("http://b.example"), FALSE), manager_.mapAnswer);
  CloseHandle(agent_->stopEvent);
  agent_->stopEvent = nullptr;  // checked after the mapping, and wins over its failure
  EXPECT_EQ(agent_->Start(TEXT("http://a.example"), TRUE), E_INVALIDARG);
  EXPECT_EQ(WString(agent_->url), TEXT("http://a.example"));
  agent_ = std::make_unique<RecordingAgent>();
  manager_.mapAnswer = S_OK;
  platform::ResetAllocationCountForTesting();
  platform::SetAllocationFailureForTesting(1);
  EXPECT_EQ(Start(), E_OUTOFMEMORY);
  platform::SetAllocationFailureForTesting(0);
  EXPECT_TRUE(agent_->url == nullptr && agent_->workerThread == nullptr);
  manager_.statuses = {0x10};
  ASSERT_EQ(Start(TRUE), 0);
  ASSERT_TRUE(Connected(10000));
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_EQ(agent_->Stop(), 0);      // again, without a worker
  EXPECT_EQ(manager_.record[8], 1);  // the proxy request goes out in the flags
}

// A Stop made while the worker is still in its establish call is dropped when the worker
// reaches its loop; Start and the destruction end such a worker before anything else.
TEST_F(ConnectionAgentTest, AWorkerThatOutlivesStop) {
  manager_.hold = true;
  ASSERT_EQ(Start(), 0);
  ASSERT_TRUE(Eventually([this] { return manager_.entered.load(); }));
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_TRUE(agent_->workerThread == nullptr && !agent_->WorkerEnded());
  manager_.hold = false;
  ASSERT_TRUE(agent_->NotesHold("connecting"));
  EXPECT_EQ(platform::PostConnectionStatusForTesting(0x10), 1);
  ASSERT_TRUE(Connected(10000));
  manager_.statuses = {0x10};
  ASSERT_EQ(Start(), 0);  // ends the one that outlived its Stop first
  ASSERT_TRUE(Connected(10000));
  EXPECT_EQ(agent_->Notes(), "connecting connected exit connecting connected");
  agent_.reset();  // the destruction stops the second
  EXPECT_EQ(manager_.releases, (std::vector<LONG>{0, 0}));
}

}  // namespace
}  // namespace zemlik::test
