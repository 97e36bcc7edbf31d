// The temporary files a signal removes before the process ends: generic POSIX code only. The
// handler runs at any point of any thread, so the table is fixed, lock-free and never allocated.
#include "platform/posix/temporary_files.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace platform {
namespace {

// The program holds one output file at a time; the rest is room for the tests.
constexpr int kSlots = 8;
constexpr std::size_t kPathRoom = 4096;  // PATH_MAX

enum SlotState : int { kFree, kWriting, kHeld };

struct Slot {
  std::atomic<int> state{kFree};
  char path[kPathRoom];
};

Slot slots[kSlots];

// Async-signal-safe: unlink, then the default action, which the handler restored (SA_RESETHAND)
// and which takes the signal once the handler returns.
extern "C" void RemoveThenEnd(int number) {
  for (Slot& slot : slots) {
    if (slot.state.load() == kHeld) unlink(slot.path);
  }
  raise(number);
}

}  // namespace

void RegisterTemporaryFile(const std::string& path) {
  if (path.size() >= kPathRoom) return;
  for (Slot& slot : slots) {
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kWriting)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.state.store(kHeld);
    return;
  }
}

// Only the thread that made a file takes it away, so a held slot does not change under it.
void UnregisterTemporaryFile(const std::string& path) {
  for (Slot& slot : slots) {
    if (slot.state.load() == kHeld && path == slot.path) slot.state.store(kFree);
  }
}

void HandleEndingSignals() {
  struct sigaction action = {};
  action.sa_handler = RemoveThenEnd;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
    struct sigaction old = {};
    if (sigaction(number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      sigaction(number, &action, nullptr);
    }
  }
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace platform
