// Events, waits and threads.
#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

DWORD WaitFirst(HANDLE a, HANDLE b, DWORD milliseconds) {
  HANDLE both[2] = {a, b};
  return WaitForMultipleObjects(2, both, FALSE, milliseconds);
}

TEST(Sync, EventsWaitsAndThreads) {
  HANDLE once = CreateEventW(nullptr, FALSE, TRUE, nullptr),
         manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_TRUE(SetEvent(once) && SetEvent(once));  // signals do not add up
  EXPECT_EQ(WaitForSingleObject(once, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(once, 10), WAIT_TIMEOUT);
  std::atomic<DWORD> woken{0};
  std::thread waiter([&] { woken = WaitFirst(once, manual, INFINITE); });
  EXPECT_TRUE(SetEvent(manual));
  waiter.join();
  EXPECT_EQ(woken, WAIT_OBJECT_0 + 1);
  SetEvent(once);
  EXPECT_EQ(WaitFirst(once, manual, INFINITE), WAIT_OBJECT_0);      // the first wins a tie
  EXPECT_EQ(WaitFirst(once, manual, INFINITE), WAIT_OBJECT_0 + 1);  // a manual one stays set
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitFirst(once, manual, 5), WAIT_TIMEOUT);
  EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, u"named"), nullptr);
  // What is no waitable fails, and a failed call consumes nothing.
  HANDLE closed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(closed);
  SetEvent(once);
  int local = 0;
  for (HANDLE bad : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&local), closed}) {
    EXPECT_EQ(WaitFirst(once, bad, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(bad) || ResetEvent(bad));
  }
  EXPECT_EQ(WaitForSingleObject(once, 0), WAIT_OBJECT_0);
  // A thread's handle is signalled when it ends, and stays so; a wait that a close
  // overtakes ends without touching what was freed.
  auto waitFor = [](LPVOID event) -> DWORD { return WaitForSingleObject(event, INFINITE); };
  HANDLE thread = CreateThread(nullptr, 0, waitFor, manual, 0, nullptr),
         closing = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  std::thread overtaken([&] { woken = WaitFirst(closing, thread, INFINITE); });
  Sleep(20);
  EXPECT_TRUE(CloseHandle(closing));
  SetEvent(manual);
  overtaken.join();
  EXPECT_TRUE(woken == WAIT_OBJECT_0 + 1 || woken == WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  for (HANDLE handle : {once, manual, thread}) CloseHandle(handle);
}

}  // namespace
