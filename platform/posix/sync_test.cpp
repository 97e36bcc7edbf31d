// Events, waits and threads where the connection agent's tests do not reach: what is no
// waitable, a wait that a close overtakes, and WinINet's handles in the same table.
#include "platform/sync.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/inet.h"

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
  // A WinINet handle is closed by its own call only, and refused once closed.
  HINTERNET session = InternetOpenW(u"agent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  EXPECT_TRUE(session != nullptr && !CloseHandle(session) && InternetCloseHandle(session));
  EXPECT_FALSE(InternetCloseHandle(session));
  EXPECT_EQ(InternetConnectW(session, u"h", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
            nullptr);
  EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, u"named"), nullptr);
  // A thread's handle is set when it ends.
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto waitFor = [](LPVOID event) -> DWORD { return WaitForSingleObject(event, INFINITE); };
  HANDLE thread = CreateThread(nullptr, 0, waitFor, go, 0, nullptr);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // A wait that a close overtakes touches nothing freed: only a sanitizer sees that, and only the
  // scheduler puts the close inside the wait, so this part is built for the sanitizers alone.
  HANDLE closing = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE both[2] = {closing, thread};
  std::jthread overtaken(WaitForMultipleObjects, 2, both, FALSE, INFINITE);
  Sleep(20);
  EXPECT_TRUE(CloseHandle(closing));
#endif
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  for (HANDLE handle : {once, go, thread}) CloseHandle(handle);
}

}  // namespace
