// The simulated connection manager's handles: generic POSIX code only. The entry calls, the
// status queue and the registry of connections are shared (common/connmgr_connection.cpp).
//
// A connection is a waitable object with a status queue under the waitables' lock, registered
// in the handle table; the release call closes its handle there.
#include <memory>

#include "platform/common/connmgr_internal.h"
#include "platform/posix/object.h"

namespace platform {
namespace {

class Connection : public Waitable, public StatusQueue {
 public:
  Connection() : Waitable(false, false), StatusQueue(WaitLock()) {}

  ~Connection() override { StopScript(); }

 private:
  void SetSignalled(bool unread) override {
    if (unread) {
      SignalLocked();
    } else {
      TryAcquireLocked();
    }
  }
};

}  // namespace

std::shared_ptr<StatusQueue> NewConnection(HANDLE* handle) {
  auto made = std::make_shared<Connection>();
  *handle = NewHandle(made);
  return made;
}

void CloseConnectionHandle(HANDLE handle) { CloseObjectHandle(handle); }

}  // namespace platform
