#include "vlsys/vl_yielding_mutex.h"

#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A holder that takes the lock back to back, as a busy timer thread does:
// another thread still gets it, at the holder's next turn.
TEST(YieldingMutex, BusyHolderLetsAWaitingThreadIn) {
  VlYieldingMutex mutex;
  std::atomic<bool> stop{false};
  std::atomic<int> rounds{0};
  std::thread busy([&] {
    while (!stop) {
      VlYieldingLockLast lock(mutex);
      std::this_thread::sleep_for(1ms);  // a tick's work
      ++rounds;
    }
  });
  ASSERT_TRUE(vltest::wait_until([&] { return rounds.load() > 2; }, 5s));
  std::atomic<bool> got_in{false};
  std::thread occasional([&] {
    VlYieldingLock lock(mutex);
    got_in = true;
  });
  EXPECT_TRUE(vltest::wait_until([&] { return got_in.load(); }, 2s));
  stop = true;
  occasional.join();
  busy.join();
}

TEST(YieldingMutex, YieldReturnsAtOnceWithNobodyWaiting) {
  VlYieldingMutex mutex;
  mutex.lock_last();
  mutex.yield();
  mutex.unlock();
  VlYieldingLock lock(mutex);
}

}  // namespace
