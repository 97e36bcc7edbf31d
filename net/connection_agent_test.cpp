// The connection agent against a scripted connection manager.
#include "net/connection_agent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/sync.h"
#include "tests/support/testing.h"

namespace zemlik::test {
namespace {

bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 1000 && !done(); ++i) Sleep(10);
  return done();
}

constexpr GUID kNetwork = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};

// What the manager answers and what the run shows; a failed run also shows the error display.
struct Scenario {
  std::vector<DWORD> statuses = {0x10};
  std::string notes;
  std::vector<LONG> releases = {0};
  DWORD last = 0x10;
  HRESULT establish = S_OK, status = S_OK, proxy = S_OK, map = S_OK;
};

// The program's agent, each notification noted before the inherited one runs.
class RecordingAgent : public ProxyConnectionAgent {
 public:
  using Base = ProxyConnectionAgent;
  ~RecordingAgent() override { StopEveryWorker(); }
  HRESULT OnConnecting() override { return Note("connecting"), Base::OnConnecting(); }
  HRESULT OnFailed() override { return Note("failed"), Base::OnFailed(); }
  HRESULT OnConnected() override { return Note("connected"), Base::OnConnected(); }
  HRESULT OnDisconnected() override { return Note("disconnected"), Base::OnDisconnected(); }
  HRESULT OnWaiting() override { return Note("waiting"), Base::OnWaiting(); }
  HRESULT OnExit() override { return Note("exit"), Base::OnExit(); }
  void Note(const char* what) { notes += (notes.empty() ? "" : " ") + std::string(what); }
  std::string notes;  // read once the worker ended or waits after setting the event
};

// The fixture plays the connection manager, answering as `scenario` says.
class ConnectionAgentTest : public ::testing::Test, public platform::ConnectionManager {
 protected:
  ConnectionAgentTest() {
    platform::SetConnectionManagerForTesting(this);
    ConnectedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }
  ~ConnectionAgentTest() override {
    agent_.reset();
    CloseHandle(std::exchange(ConnectedEvent, nullptr));
    platform::SetConnectionManagerForTesting(nullptr);
  }
  HRESULT MapUrl(LPCWSTR url, GUID* destination) override {
    mapped = url;
    *destination = kNetwork;
    return scenario.map;
  }
  HRESULT Establish(const CONNMGR_CONNECTIONINFO& request,
                    platform::ConnectionScript* script) override {
    record = request;
    for (entered = true; hold;) Sleep(5);
    for (DWORD s : scenario.statuses) script->items[script->count++] = {{}, s};  // statuses only
    return scenario.establish;
  }
  HRESULT Status(DWORD) override { return scenario.status; }
  HRESULT ProxyConfig(PROXY_CONFIG*) override { return scenario.proxy; }
  void Released(LONG cache) override { releases.push_back(cache); }  // read once the worker ended
  HRESULT Start(BOOL proxy = FALSE) { return agent_->Start(TEXT("http://portal.example"), proxy); }
  bool Connected(DWORD ms = 0) { return WaitForSingleObject(ConnectedEvent, ms) == WAIT_OBJECT_0; }

  Scenario scenario;
  std::atomic<bool> hold = false, entered = false;
  CONNMGR_CONNECTIONINFO record{};
  WString mapped;
  std::vector<LONG> releases;
  std::unique_ptr<RecordingAgent> agent_ = std::make_unique<RecordingAgent>();
};

TEST_F(ConnectionAgentTest, EachRunEndsAsItsStatusesAndAnswersSay) {
  const Scenario rows[] = {
      {.statuses = {0x11, 0x80, 0x00, 0x50, 0x10}, .notes = "connecting waiting connected exit"},
      {.statuses = {0x60}, .notes = "connecting failed exit", .last = 0x60},
      {.statuses = {0x10, 0x20, 0x40},
       .notes = "connecting connected disconnected exit",
       .releases = {1},
       .last = 0x20},
      // Refused: no connection to release, and no status yet for the display.
      {.notes = "failed exit", .releases = {}, .last = 0, .establish = E_FAIL},
      {.notes = "connecting exit", .last = 0x80041111, .status = static_cast<HRESULT>(0x80041111)},
      {.notes = "connecting connected exit", .proxy = E_FAIL},  // no proxy found, still up
  };
  for (const Scenario& row : rows) {
    SCOPED_TRACE("row " + std::to_string(&row - rows));
    agent_ = std::make_unique<RecordingAgent>();
    scenario = row;
    releases.clear();
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(Start(TRUE), S_OK);
    const bool up = row.notes.find("connected") != std::string::npos;
    const bool waits = row.notes.ends_with("connected exit");  // for a Stop, taking the event
    ASSERT_TRUE(waits ? Connected(10000) : Eventually([&] { return agent_->WorkerEnded(); }));
    EXPECT_EQ(agent_->Stop() + agent_->Stop(), S_OK);  // the second without a worker
    std::ostringstream display;
    if (row.notes.find("failed") != std::string::npos)
      display << ":MSREMNET -CMERROR 0x" << std::hex << row.last << " -report\n";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), display.str());
    EXPECT_EQ(agent_->notes, row.notes);
    EXPECT_EQ(releases, row.releases);
    EXPECT_EQ(agent_->LastStatus(), row.last);
    EXPECT_TRUE(Connected() == (up && !waits) && !Connected() && agent_->WorkerEnded());
  }
  EXPECT_TRUE(ConnectionAgent().OnConnected() == S_OK && !Connected());  // only ours sets the event
  const CONNMGR_CONNECTIONINFO expected{
      .cbSize = 64, .dwParams = 1, .dwFlags = 1, .dwPriority = 0x8000, .guidDestNet = kNetwork};
  EXPECT_EQ(std::memcmp(&record, &expected, sizeof expected), 0);
  // Start maps the URL given, or with none the one stored before (and fails without one).
  EXPECT_EQ(ConnectionAgent().Start(nullptr, FALSE), E_INVALIDARG);
  scenario.map = static_cast<HRESULT>(0x80049999u);
  EXPECT_EQ(agent_->Start(TEXT("http://b.example"), FALSE), scenario.map);
  EXPECT_EQ(agent_->Start(nullptr, FALSE), scenario.map);
  EXPECT_EQ(mapped, TEXT("http://b.example"));
}

// A Stop made while the worker is still in its establish call is dropped when the worker
// reaches its loop; Start and the destruction end such a worker before anything else.
TEST_F(ConnectionAgentTest, AWorkerThatOutlivesStop) {
  hold = true;
  ASSERT_EQ(Start(), S_OK);
  ASSERT_TRUE(Eventually([this] { return entered.load(); }));
  EXPECT_EQ(agent_->Stop(), S_OK);
  EXPECT_FALSE(agent_->WorkerEnded());
  hold = false;
  ASSERT_TRUE(Connected(10000));
  EXPECT_EQ(platform::PostConnectionStatusForTesting(0), 1);  // its connection is still up
  ASSERT_EQ(Start(), S_OK);  // ends the one that outlived its Stop first
  ASSERT_TRUE(Connected(10000));
  EXPECT_EQ(agent_->notes, "connecting connected exit connecting connected");
  EXPECT_EQ(record.dwFlags, 0u);                     // no proxy requested
  agent_.reset();                                    // the destruction stops the second
  auto plain = std::make_unique<ConnectionAgent>();  // and so does the base class's own
  ASSERT_EQ(plain->Start(TEXT("http://portal.example"), FALSE), S_OK);
  plain.reset();
  EXPECT_EQ(releases, (std::vector<LONG>{0, 0, 0}));
}

}  // namespace
}  // namespace zemlik::test
