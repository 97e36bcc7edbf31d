// The connection agent's status dispatch on arbitrary status sequences, played through the
// connection-manager seam: the notifications in their order, the cache value of the release,
// lastStatus, the proxy query and ConnectedEvent are checked against the dispatch rules.
//
// Input: byte 0 holds flags (1 refused establish, 2 end with Stop instead of a final
// disconnect, 4 proxy answer fails, 8 proxy answer not of the HTTP type, 16 proxy requested);
// byte 1 the status read that fails (1-based, 0 for none); then one status per byte, 0xFF
// followed by four bytes giving a 32-bit status (little-endian). Unless flag 2 is set, a
// final disconnect (0x20) is appended, so the worker always ends by itself; with flag 2 the
// agent is stopped once the worker has read its first status. Every status is queued before
// the worker's first wait, and the connection wins a tie with the stop request, so each
// run's outcome is fixed by its input, not by timing.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/connection_agent.h"
#include "platform/connmgr.h"
#include "platform/sync.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

constexpr DWORD kFinalDisconnect = CONNMGR_STATUS_DISCONNECTED;
constexpr SIZE_T kMaxStatuses = platform::kConnectionScriptCapacity - 1;

struct Input {
  bool refuse = false;
  bool stopAtEnd = false;
  bool proxyFails = false;
  bool proxyNotHttp = false;
  bool proxyRequested = false;
  int failingRead = 0;
  std::vector<DWORD> statuses;
};

Input ReadInput(const uint8_t* data, size_t size) {
  Input in;
  if (size > 0) {
    in.refuse = (data[0] & 1) != 0;
    in.stopAtEnd = (data[0] & 2) != 0;
    in.proxyFails = (data[0] & 4) != 0;
    in.proxyNotHttp = (data[0] & 8) != 0;
    in.proxyRequested = (data[0] & 16) != 0;
  }
  if (size > 1) in.failingRead = data[1] % (kMaxStatuses + 3);
  for (size_t i = 2; i < size && in.statuses.size() < kMaxStatuses; ++i) {
    if (data[i] == 0xFF && i + 4 < size) {
      DWORD value;
      std::memcpy(&value, data + i + 1, 4);
      in.statuses.push_back(value);
      i += 4;
    } else {
      in.statuses.push_back(data[i]);
    }
  }
  // A stop needs a status read first: only then has the worker dropped earlier stop requests.
  if (in.stopAtEnd && in.statuses.empty()) in.stopAtEnd = false;
  if (!in.stopAtEnd) in.statuses.push_back(kFinalDisconnect);
  return in;
}

// Plays the input's statuses, all queued at establish, and answers as the input says.
class ScriptedManager : public platform::ConnectionManager {
 public:
  ScriptedManager(const Input& input, HANDLE reading) : input_(input), reading_(reading) {}

  HRESULT Establish(const CONNMGR_CONNECTIONINFO& request,
                    platform::ConnectionScript* script) override {
    std::memcpy(&request_, &request, sizeof request_);
    *script = platform::ConnectionScript{};
    script->refuse = input_.refuse;
    for (DWORD status : input_.statuses) {
      script->items[script->count++] = {platform::ConnectionScriptItem::kStatus, status};
    }
    return S_OK;
  }

  // The worker reads statuses only inside its loop, past the point where it drops stop
  // requests: from the first read on, a stop request is seen.
  HRESULT Status(DWORD) override {
    SetEvent(reading_);
    return ++reads == input_.failingRead ? static_cast<HRESULT>(E_FAIL) : S_OK;
  }

  HRESULT ProxyConfig(PROXY_CONFIG* config) override {
    if (input_.proxyNotHttp) config->dwType = 2;
    std::memcpy(config->szUsername, u"user", 10);
    std::memcpy(config->szPassword, u"secret", 14);
    return input_.proxyFails ? static_cast<HRESULT>(E_FAIL) : S_OK;
  }

  void Released(LONG cache) override {
    releasedWith = cache;
    ++releases;
  }

  const CONNMGR_CONNECTIONINFO& request() const { return request_; }

  std::atomic<int> reads{0};
  std::atomic<LONG> releasedWith{-1};
  std::atomic<int> releases{0};

 private:
  const Input& input_;
  HANDLE reading_;
  CONNMGR_CONNECTIONINFO request_{};
};

// The program's agent with each notification noted before the inherited one runs. The
// failure display is not started: it writes a line to standard error each time.
class RecordingAgent : public ProxyConnectionAgent {
 public:
  explicit RecordingAgent(HANDLE exited) : exited_(exited) {}
  ~RecordingAgent() override { StopEveryWorker(); }

  HRESULT OnConnecting() override {
    notes += 'C';
    return ProxyConnectionAgent::OnConnecting();
  }
  HRESULT OnFailed() override {
    notes += 'F';
    return E_FAIL;
  }
  HRESULT OnConnected() override {
    notes += 'U';
    const HRESULT result = ProxyConnectionAgent::OnConnected();
    proxyAnswers += proxyFound_ ? 'P' : '-';
    const bool wiped = proxyConfig_.szUsername[0] == 0 && proxyConfig_.szPassword[0] == 0;
    if (proxyFound_ && !wiped) Fail("credentials of a found proxy kept");
    return result;
  }
  HRESULT OnDisconnected() override {
    notes += 'D';
    return ProxyConnectionAgent::OnDisconnected();
  }
  HRESULT OnWaiting() override {
    notes += 'W';
    return ProxyConnectionAgent::OnWaiting();
  }
  HRESULT OnExit() override {
    notes += 'X';
    SetEvent(exited_);
    return ProxyConnectionAgent::OnExit();
  }

  // Written by the worker only, read once it has ended.
  std::string notes;
  std::string proxyAnswers;

 private:
  HANDLE exited_;
};

// What the dispatch rules say the worker does with `in`.
struct Expected {
  std::string notes;
  std::string proxyAnswers;
  LONG cache = 0;
  DWORD lastStatus = 0;
  int releases = 1;
};

Expected Model(const Input& in) {
  Expected e;
  if (in.refuse) {
    e.notes = "FX";
    e.releases = 0;
    return e;
  }
  e.notes = "C";
  const char proxyAnswer = in.proxyFails || in.proxyNotHttp ? '-' : 'P';
  for (size_t i = 0; i < in.statuses.size(); ++i) {
    if (static_cast<int>(i) + 1 == in.failingRead) {
      e.lastStatus = static_cast<DWORD>(E_FAIL);
      break;
    }
    const DWORD status = in.statuses[i];
    e.lastStatus = status;
    if ((status & CONNMGR_STATUS_DISCONNECTED) != 0) {
      const bool disconnected = status == CONNMGR_STATUS_DISCONNECTED;
      e.notes += disconnected ? 'D' : 'F';
      e.cache = disconnected ? 1 : 0;
      break;
    }
    if (status == CONNMGR_STATUS_CONNECTED) {
      e.notes += 'U';
      e.proxyAnswers += proxyAnswer;
    } else if ((status & CONNMGR_STATUS_WAITINGCONNECTION) != 0) {
      e.notes += 'W';
    }
  }
  e.notes += 'X';
  return e;
}

HANDLE NewEvent(BOOL manualReset) {
  HANDLE created = CreateEventW(nullptr, manualReset, FALSE, nullptr);
  if (created == nullptr) Fail("no event");
  return created;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Input in = ReadInput(data, size);
  const Expected expected = Model(in);
  static const HANDLE connected = NewEvent(FALSE);
  // Set at the first status read and when the worker ends.
  static const HANDLE progress = NewEvent(TRUE);
  ConnectedEvent = connected;
  ResetEvent(connected);
  ResetEvent(progress);

  ScriptedManager manager(in, progress);
  platform::SetConnectionManagerForTesting(&manager);
  {
    RecordingAgent agent(progress);
    if (agent.Start(TEXT("http://www.portal.example"), in.proxyRequested ? TRUE : FALSE) != 0) {
      Fail("Start failed");
    }
    if (in.stopAtEnd && WaitForSingleObject(progress, 10000) != WAIT_OBJECT_0) {
      Fail("the worker neither read a status nor ended");
    }
    agent.Stop();
    if (!agent.WorkerEnded()) Fail("worker outlived Stop");

    if (agent.notes != expected.notes) {
      std::fprintf(stderr, "notes %s, expected %s\n", agent.notes.c_str(), expected.notes.c_str());
      Fail("notifications differ from the dispatch rules");
    }
    if (agent.proxyAnswers != expected.proxyAnswers) Fail("proxy query outcome differs");
    if (agent.LastStatus() != expected.lastStatus) Fail("lastStatus differs");
    if (manager.releases.load() != expected.releases) Fail("release count differs");
    if (expected.releases == 1 && manager.releasedWith.load() != expected.cache) {
      Fail("cache value of the release differs");
    }
    const bool connected = expected.notes.find('U') != std::string::npos;
    if ((WaitForSingleObject(ConnectedEvent, 0) == WAIT_OBJECT_0) != connected) {
      Fail("ConnectedEvent does not match the connected reports");
    }
    const CONNMGR_CONNECTIONINFO& request = manager.request();
    if (request.cbSize != 64 || request.dwParams != CONNMGR_PARAM_GUIDDESTNET ||
        request.dwFlags != (in.proxyRequested ? CONNMGR_FLAG_PROXY_HTTP : 0u) ||
        request.dwPriority != CONNMGR_PRIORITY_USERINTERACTIVE ||
        std::memcmp(&request.guidDestNet, &IID_DestNetInternet, sizeof(GUID)) != 0) {
      Fail("connection request record differs");
    }
  }
  platform::SetConnectionManagerForTesting(nullptr);
  return 0;
}
