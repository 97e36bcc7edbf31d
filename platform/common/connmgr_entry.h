// What each side's connection manager gives the shared entry calls
// (common/connmgr_entry.cpp): how a connection's handle is made, looked up and
// released. Internal to the layer.
#pragma once

#include <memory>

#include "platform/common/connmgr_queue.h"
#include "platform/connmgr.h"

namespace platform {

// A new connection playing `script` (Start), and its handle in *handle; a
// failure result, with *handle untouched, when none can be made.
HRESULT OpenConnection(const ConnectionScript& script, HANDLE* handle);

// The connection behind `handle`, or null when it is none or was released.
std::shared_ptr<StatusQueue> FindConnection(HANDLE handle);

// Stops and joins the connection's script and closes its handle; false when
// `handle` is no connection.
bool CloseConnection(HANDLE handle);

}  // namespace platform
