#include "platform/sync.h"

#include <atomic>
#include <cstdlib>
#include <thread>

#include "gtest/gtest.h"
#include "platform/files.h"
#include "platform/scoped.h"

namespace {

using platform::ScopedHandle;

HANDLE NewEvent(bool manualReset, bool initialState = false) {
  return CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr);
}

DWORD WaitFirst(HANDLE a, HANDLE b, DWORD milliseconds) {
  HANDLE both[2] = {a, b};
  return WaitForMultipleObjects(2, both, FALSE, milliseconds);
}

TEST(Events, AutoResetReleasesOneWaitAndResets) {
  ScopedHandle event(NewEvent(false));
  ASSERT_TRUE(event.valid());
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(event.get()));
  EXPECT_TRUE(SetEvent(event.get()));  // signals do not add up
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);

  EXPECT_TRUE(SetEvent(event.get()));
  EXPECT_TRUE(ResetEvent(event.get()));
  EXPECT_EQ(WaitForSingleObject(event.get(), 10), WAIT_TIMEOUT);

  ScopedHandle initiallySet(NewEvent(false, true));
  EXPECT_EQ(WaitForSingleObject(initiallySet.get(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(initiallySet.get(), 0), WAIT_TIMEOUT);
}

TEST(Events, ASignalWakesAWaitingThreadAndIsConsumedByIt) {
  ScopedHandle event(NewEvent(false));
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] { result = WaitForSingleObject(event.get(), INFINITE); });
  EXPECT_TRUE(SetEvent(event.get()));
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
}

TEST(Events, ManualResetStaysSignalledUntilReset) {
  ScopedHandle event(NewEvent(true));
  EXPECT_TRUE(SetEvent(event.get()));
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.get(), INFINITE), WAIT_OBJECT_0);
  std::thread other([&] { EXPECT_EQ(WaitForSingleObject(event.get(), INFINITE), WAIT_OBJECT_0); });
  other.join();
  EXPECT_TRUE(ResetEvent(event.get()));
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
}

TEST(Waits, TheFirstHandleWinsATieAndOnlyItIsConsumed) {
  ScopedHandle first(NewEvent(false));
  ScopedHandle second(NewEvent(false));
  EXPECT_EQ(WaitFirst(first.get(), second.get(), 0), WAIT_TIMEOUT);

  SetEvent(second.get());
  SetEvent(first.get());
  EXPECT_EQ(WaitFirst(first.get(), second.get(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitFirst(first.get(), second.get(), INFINITE), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitFirst(first.get(), second.get(), 5), WAIT_TIMEOUT);

  SetEvent(second.get());
  EXPECT_EQ(WaitFirst(first.get(), second.get(), 0), WAIT_OBJECT_0 + 1);
}

TEST(Waits, AWaitOnTwoWakesForTheSecond) {
  ScopedHandle stop(NewEvent(false));
  ScopedHandle status(NewEvent(false));
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] { result = WaitFirst(stop.get(), status.get(), INFINITE); });
  SetEvent(status.get());
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_OBJECT_0 + 1);
}

TEST(Waits, BadHandlesAndArgumentsFail) {
  ScopedHandle event(NewEvent(false, true));
  int local = 0;
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(&local, 0), WAIT_FAILED);
  EXPECT_EQ(WaitFirst(event.get(), &local, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
  HANDLE one[1] = {event.get()};
  EXPECT_EQ(WaitForMultipleObjects(1, one, TRUE, 0), WAIT_FAILED);
  // The failed calls consumed nothing.
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);

  ScopedHandle file(
      CreateFileW(u"/dev/null", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(WaitForSingleObject(file.get(), 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(file.get()));

  HANDLE closed = NewEvent(false);
  EXPECT_TRUE(CloseHandle(closed));
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(closed));
  EXPECT_FALSE(ResetEvent(closed));

  EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, u"named"), nullptr);
}

TEST(Waits, ClosingAHandleThatAnotherThreadWaitsOnIsSafe) {
  HANDLE closing = NewEvent(false);
  ScopedHandle wake(NewEvent(false));
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] { result = WaitFirst(closing, wake.get(), INFINITE); });
  Sleep(20);  // most likely inside its wait by now; a wait that starts later fails
  EXPECT_TRUE(CloseHandle(closing));
  SetEvent(wake.get());
  waiter.join();
  EXPECT_TRUE(result.load() == WAIT_OBJECT_0 + 1 || result.load() == WAIT_FAILED);
}

struct Gate {
  HANDLE started;
  HANDLE go;
  DWORD result;
};

DWORD GatedRoutine(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  SetEvent(gate->started);
  WaitForSingleObject(gate->go, INFINITE);
  return gate->result;
}

TEST(Threads, StartAtOnceAndSignalTheirHandleWithTheExitCodeWhenDone) {
  ScopedHandle started(NewEvent(false));
  ScopedHandle go(NewEvent(false));
  Gate gate{started.get(), go.get(), 42};
  DWORD id = 0;
  ScopedHandle thread(CreateThread(nullptr, 0, GatedRoutine, &gate, 0, &id));
  ASSERT_TRUE(thread.valid());
  EXPECT_NE(id, 0u);
  EXPECT_EQ(WaitForSingleObject(started.get(), INFINITE), WAIT_OBJECT_0);

  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_TIMEOUT);

  SetEvent(go.get());
  EXPECT_EQ(WaitForSingleObject(thread.get(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(code, 42u);

  EXPECT_FALSE(SetEvent(thread.get()));
  EXPECT_FALSE(GetExitCodeThread(started.get(), &code));
}

TEST(Threads, ClosingTheHandleOfARunningThreadIsSafe) {
  ScopedHandle started(NewEvent(false));
  ScopedHandle go(NewEvent(false));
  ScopedHandle done(NewEvent(false));
  struct Work {
    Gate gate;
    HANDLE done;
  } work{{started.get(), go.get(), 0}, done.get()};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* w = static_cast<Work*>(p);
        GatedRoutine(&w->gate);
        SetEvent(w->done);
        return 0;
      },
      &work, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(started.get(), INFINITE);
  EXPECT_TRUE(CloseHandle(thread));
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
  SetEvent(go.get());
  EXPECT_EQ(WaitForSingleObject(done.get(), INFINITE), WAIT_OBJECT_0);
}

TEST(Threads, OnlyImmediateStartIsOffered) {
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(CreateThread(nullptr, 0, GatedRoutine, nullptr, 4 /* CREATE_SUSPENDED */, nullptr),
            nullptr);
}

DWORD WaitForever(LPVOID parameter) {
  for (;;) WaitForSingleObject(static_cast<HANDLE>(parameter), 1);
}

TEST(Threads, AThreadStillRunningAtProcessExitDoesNotCrashIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        HANDLE never = NewEvent(true);
        HANDLE thread = CreateThread(nullptr, 0, WaitForever, never, 0, nullptr);
        CloseHandle(thread);
        Sleep(20);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
