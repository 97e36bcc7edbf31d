#include "platform/memory.h"

#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace {

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetAllocationFailureForTesting(0);
    platform::ResetAllocationCountForTesting();
  }
  void TearDown() override { platform::SetAllocationFailureForTesting(0); }
};

TEST_F(MemoryTest, ZeroInitFillsAndFreeReturnsNull) {
  auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 4096));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);

  void* empty = LocalAlloc(LMEM_FIXED, 0);
  EXPECT_NE(empty, nullptr);
  LocalFree(empty);
}

TEST_F(MemoryTest, CountsFromOneAndFailsExactlyTheNth) {
  platform::SetAllocationFailureForTesting(3);
  void* blocks[5];
  for (void*& b : blocks) b = LocalAlloc(LMEM_FIXED, 16);
  EXPECT_NE(blocks[0], nullptr);
  EXPECT_NE(blocks[1], nullptr);
  EXPECT_EQ(blocks[2], nullptr);
  EXPECT_NE(blocks[3], nullptr);
  EXPECT_NE(blocks[4], nullptr);
  EXPECT_EQ(platform::AllocationCountForTesting(), 5u);
  for (void* b : blocks) LocalFree(b);

  // A reset starts the numbering again; the failure point stays set.
  platform::ResetAllocationCountForTesting();
  EXPECT_EQ(platform::AllocationCountForTesting(), 0u);
  void* first = LocalAlloc(LPTR, 1);
  void* second = LocalAlloc(LPTR, 1);
  void* third = LocalAlloc(LPTR, 1);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(third, nullptr);
  LocalFree(first);
  LocalFree(second);

  platform::SetAllocationFailureForTesting(0);
  platform::ResetAllocationCountForTesting();
  for (int i = 0; i < 5; ++i) {
    void* b = LocalAlloc(LMEM_FIXED, 1);
    EXPECT_NE(b, nullptr);
    LocalFree(b);
  }
}

TEST_F(MemoryTest, CountingAndFailureHoldAcrossThreads) {
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  platform::SetAllocationFailureForTesting(1234);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < kEach; ++i) {
        void* b = LocalAlloc(LMEM_FIXED, 8);
        if (b == nullptr) ++failures;
        LocalFree(b);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(platform::AllocationCountForTesting(), static_cast<unsigned long>(kThreads * kEach));
  EXPECT_EQ(failures.load(), 1);
}

// The environment is read when the process starts, so these run in a child
// started with it (the death-test machinery re-runs this binary).
TEST(MemoryEnvironment, AllocFailAndCountAreHonouredFromTheStart) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("ZEMLIK_ALLOC_COUNT", "1", 1);
  EXPECT_EXIT(
      {
        for (int i = 0; i < 3; ++i) LocalFree(LocalAlloc(LMEM_FIXED, 8));
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^allocations: 3\n$");
  unsetenv("ZEMLIK_ALLOC_COUNT");

  setenv("ZEMLIK_ALLOC_FAIL", "2", 1);
  EXPECT_EXIT(
      {
        void* a = LocalAlloc(LMEM_FIXED, 8);
        void* b = LocalAlloc(LMEM_FIXED, 8);
        void* c = LocalAlloc(LMEM_FIXED, 8);
        std::exit(a != nullptr && b == nullptr && c != nullptr ? 7 : 1);
      },
      ::testing::ExitedWithCode(7), "");
  unsetenv("ZEMLIK_ALLOC_FAIL");
}

}  // namespace
