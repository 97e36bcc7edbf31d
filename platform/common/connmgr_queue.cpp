#include "platform/common/connmgr_queue.h"

#include <chrono>

namespace platform {

void StatusQueue::Post(DWORD status) {
  std::lock_guard<std::mutex> lock(lock_);
  pending_.push_back(status);
  current_ = status;
  SetSignalled(true);
}

DWORD StatusQueue::Take() {
  std::lock_guard<std::mutex> lock(lock_);
  if (pending_.empty()) return current_;
  const DWORD status = pending_.front();
  pending_.pop_front();
  SetSignalled(!pending_.empty());
  return status;
}

void StatusQueue::Start(const ConnectionScript& script) {
  SIZE_T played = 0;
  for (; played < script.count; ++played) {
    if (script.items[played].kind != ConnectionScriptItem::kStatus) break;
    Post(script.items[played].value);
  }
  if (played == script.count) return;
  script_ = script;
  thread_ = std::thread([this, played] { Play(played); });
}

void StatusQueue::StopScript() {
  {
    std::lock_guard<std::mutex> lock(scriptMutex_);
    stopping_ = true;
  }
  scriptChanged_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void StatusQueue::Play(SIZE_T first) {
  for (SIZE_T i = first; i < script_.count; ++i) {
    const ConnectionScriptItem& item = script_.items[i];
    if (item.kind == ConnectionScriptItem::kStatus) {
      Post(item.value);
      continue;
    }
    std::unique_lock<std::mutex> lock(scriptMutex_);
    if (scriptChanged_.wait_for(lock, std::chrono::milliseconds(item.value),
                                [this] { return stopping_; })) {
      return;
    }
  }
}

}  // namespace platform
