// One data connection through the connection manager, requested and watched
// by a worker thread that reports each status change through the virtual
// notifications below.
#pragma once

#include <atomic>

#include "platform/connmgr.h"
#include "platform/scoped.h"
#include "platform/win32.h"

// Set by ProxyConnectionAgent each time the connection is reported up. The job
// creates it before starting the agent and closes it (and clears this) only
// once no worker can set it any more.
extern HANDLE ConnectedEvent;

// Threads: the constructor, Start, Stop, WorkerEnded and the destructor run on
// the owning thread; RunWorker and every notification run on the worker. No
// lock: thread creation, the two events and the end of the worker order them.
class ConnectionAgent {
 public:
  ConnectionAgent();
  ConnectionAgent(const ConnectionAgent&) = delete;
  ConnectionAgent& operator=(const ConnectionAgent&) = delete;

  // The notifications, in their slot order. A non-zero result of OnStatus ends
  // the worker's status loop.
  virtual ~ConnectionAgent();
  virtual HRESULT OnStatus(DWORD status);
  virtual HRESULT OnConnecting();
  // Starts the connection-error display with lastStatus_; E_FAIL.
  virtual HRESULT OnFailed();
  // Reads the proxy configuration of the connection.
  virtual HRESULT OnConnected();
  virtual HRESULT OnDisconnected();
  virtual HRESULT OnWaiting();
  virtual HRESULT OnExit();

  // Maps `urlToMap` (null: the URL stored before) and starts a new worker after
  // stopping an earlier one. E_INVALIDARG without a stop event (checked after
  // the mapping), the mapping's failure, or E_FAIL when no thread could start
  // or an earlier worker that outlived its Stop is still running.
  HRESULT Start(LPCWSTR urlToMap, BOOL requestProxy);
  // Sets the stop event and waits at most 3000 ms for the worker; forgets it
  // either way. Always 0.
  HRESULT Stop();

  // True when no worker of this agent is still running, including one that
  // outlived Stop's wait; then nothing of it can set ConnectedEvent any more.
  bool WorkerEnded() const;
  // lastStatus_, for the owning thread once WorkerEnded() (the worker writes it).
  DWORD LastStatus() const { return lastStatus_; }

 protected:
  // Stop, then, for a worker that outlived its wait (it drops stop requests
  // made before it reached its loop), the request again for up to 3000 ms more.
  // A class that overrides notifications calls this first in its destructor, so
  // that no worker runs a notification of a half-destroyed agent.
  void StopEveryWorker();

  platform::LocalPtr<WCHAR[]> url_;
  HANDLE connection_ = nullptr;  // the connection manager's; released, never closed
  LONG cacheOnRelease_ = 0;
  platform::ScopedHandle stopEvent_;
  platform::ScopedHandle workerThread_;
  BOOL proxyFound_ = FALSE;
  PROXY_CONFIG proxyConfig_{};

 private:
  // Copies `urlToMap` when given, then maps the stored URL to destNetwork_.
  HRESULT MapUrl(LPCWSTR urlToMap);
  // Fills proxyFound_ and proxyConfig_ from the proxy provider, wiping any
  // credentials of a found proxy; returns proxyFound_.
  BOOL QueryProxyConfig(HANDLE handle);
  // The worker: request, watch, release. Returns the final lastStatus_.
  DWORD RunWorker();
  static DWORD WorkerThreadProc(LPVOID parameter);

  BOOL proxyRequested_ = FALSE;
  GUID destNetwork_{};
  DWORD lastStatus_ = 0;
  // Workers started and not yet past their last use of the agent.
  std::atomic<int> liveWorkers_{0};
};

// The agent of the program: also sets ConnectedEvent when the connection is up.
class ProxyConnectionAgent : public ConnectionAgent {
 public:
  ~ProxyConnectionAgent() override;
  HRESULT OnConnected() override;
};

// The program's one agent, built before the entry runs and destroyed at exit.
extern ProxyConnectionAgent ProxyAgent;
