// Events, waits and threads where the connection agent's tests do not reach: what is no
// waitable, and a wait that a close overtakes.
#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(Sync, WhatIsNoWaitableFailsAndAClosedHandleEndsAWait) {
  HANDLE once = CreateEventW(nullptr, FALSE, TRUE, nullptr),
         closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(closed);
  int local = 0;
  for (HANDLE bad : {static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&local), closed}) {
    HANDLE both[2] = {once, bad};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(bad) || ResetEvent(bad));
  }
  EXPECT_EQ(WaitForSingleObject(once, 0), WAIT_OBJECT_0);  // a failed wait consumes nothing
  EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, u"named"), nullptr);
  // A thread's handle is signalled when it ends; a wait that a close overtakes ends without
  // touching what was freed.
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr),
         closing = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  auto waitFor = [](LPVOID event) -> DWORD { return WaitForSingleObject(event, INFINITE); };
  HANDLE thread = CreateThread(nullptr, 0, waitFor, go, 0, nullptr);
  std::atomic<DWORD> woken{0};
  std::thread overtaken([&] {
    HANDLE both[2] = {closing, thread};
    woken = WaitForMultipleObjects(2, both, FALSE, INFINITE);
  });
  Sleep(20);
  EXPECT_TRUE(CloseHandle(closing));
  SetEvent(go);
  overtaken.join();
  EXPECT_TRUE(woken == WAIT_OBJECT_0 + 1 || woken == WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  for (HANDLE handle : {once, go, thread}) CloseHandle(handle);
}

}  // namespace
