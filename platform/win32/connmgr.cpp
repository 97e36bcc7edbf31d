// The simulated connection manager's handles on Windows, which has none: Win32 code only. The
// entry calls, the status queue and the registry of connections are shared
// (common/connmgr_connection.cpp).
//
// A connection's handle is a real auto-reset event, so the program waits on it with the
// system's WaitForMultipleObjects; the event is the signal of the connection's status queue.
#include <memory>

#include "platform/common/connmgr_internal.h"

namespace platform {
namespace {

class Connection : public StatusQueue {
 public:
  explicit Connection(HANDLE event) : event_(event) {}

  ~Connection() override {
    StopScript();
    CloseHandle(event_);
  }

 private:
  void SetSignalled(bool unread) override {
    if (unread) {
      SetEvent(event_);
    } else {
      ResetEvent(event_);
    }
  }

  const HANDLE event_;
};

}  // namespace

std::shared_ptr<StatusQueue> NewConnection(HANDLE* handle) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) return nullptr;
  *handle = event;
  return std::make_shared<Connection>(event);
}

// The event closes with the connection's last reference instead: a status read running on
// another thread keeps it open until it is done.
void CloseConnectionHandle(HANDLE handle) {}

}  // namespace platform
