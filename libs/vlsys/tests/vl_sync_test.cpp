#include "vlsys/vl_arevent.h"
#include "vlsys/vl_condition.h"
#include "vlsys/vl_mutex.h"
#include "vlsys/vl_semaphore.h"
#include "vlsys/vl_thread.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Mutex, HeapMutexStaysWithCaller) {
  vl_mutex* mutex = vl_mutex_ctor(nullptr);
  ASSERT_NE(mutex, nullptr);
  vl_mutex_lock(mutex);
  vl_mutex_unlock(mutex);
  EXPECT_EQ(vl_mutex_dtor(mutex), mutex);
  delete mutex;
}

TEST(Mutex, LockGuardsAgainstOtherThreads) {
  vl_mutex mutex;
  ASSERT_EQ(vl_mutex_ctor(&mutex), &mutex);
  int shared = 0;
  auto work = [&] {
    for (int i = 0; i < 100000; ++i) {
      VlLock lock(mutex);
      ++shared;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(shared, 200000);
  vl_mutex_dtor(&mutex);
}

TEST(Condition, TimeoutZeroReturnsAtOnce) {
  vl_condition cond;
  vl_mutex mutex;
  ASSERT_NE(vl_condition_ctor(&cond), nullptr);
  ASSERT_NE(vl_mutex_ctor(&mutex), nullptr);
  vl_mutex_lock(&mutex);
  const auto start = Clock::now();
  EXPECT_EQ(vl_condition_timedwait(&cond, &mutex, 0), 1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_LT(Clock::now() - start, 50ms);
  vl_mutex_unlock(&mutex);
  vl_condition_dtor(&cond);
  vl_mutex_dtor(&mutex);
}

TEST(Condition, SignalWakesWithZero) {
  vl_condition cond;
  vl_mutex mutex;
  vl_condition_ctor(&cond);
  vl_mutex_ctor(&mutex);
  bool ready = false;
  std::thread signaller([&] {
    std::this_thread::sleep_for(20ms);
    VlLock lock(mutex);
    ready = true;
    pthread_cond_signal(&cond.handle);
  });
  vl_mutex_lock(&mutex);
  int rc = 0;
  while (!ready && rc == 0) rc = vl_condition_timedwait(&cond, &mutex, 2000000);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(errno, 0);
  vl_mutex_unlock(&mutex);
  signaller.join();
  vl_condition_dtor(&cond);
  vl_mutex_dtor(&mutex);
}

TEST(Semaphore, CountsPosts) {
  vl_semaphore* sem = vl_semaphore_ctor(nullptr, 2);
  ASSERT_NE(sem, nullptr);
  EXPECT_EQ(sem_trywait(&sem->handle), 0);
  EXPECT_EQ(sem_trywait(&sem->handle), 0);
  EXPECT_EQ(sem_trywait(&sem->handle), -1);
  sem_post(&sem->handle);
  EXPECT_EQ(sem_wait(&sem->handle), 0);
  EXPECT_EQ(vl_semaphore_dtor(sem), sem);
  delete sem;
}

class AutoResetEvent : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(vl_arevent_ctor(&event), 0); }
  void TearDown() override { vl_arevent_dtor(&event); }
  vl_arevent event;
};

TEST_F(AutoResetEvent, TriggerBeforeWaitIsRememberedOnce) {
  EXPECT_FALSE(event.set);
  EXPECT_EQ(vl_arevent_trigger(&event), 0);
  EXPECT_EQ(vl_arevent_trigger(&event), 0);
  EXPECT_EQ(vl_arevent_wait(&event), 0);
  EXPECT_FALSE(event.set);
  EXPECT_EQ(vl_arevent_timedwait(&event, 0), 1);  // the second trigger was merged
}

TEST_F(AutoResetEvent, TimedWaitsOfZeroAndOneAndAHalfSeconds) {
  auto start = Clock::now();
  EXPECT_EQ(vl_arevent_timedwait(&event, 0), 1);
  EXPECT_LT(Clock::now() - start, 50ms);
  start = Clock::now();
  EXPECT_EQ(vl_arevent_timedwait(&event, 1500000), 1);
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, 1500ms);
  EXPECT_LT(waited, 1800ms);
}

TEST_F(AutoResetEvent, WakeUpWithoutTriggerDoesNotEndTheWait) {
  std::thread spurious([&] {
    for (int i = 0; i < 10; ++i) {
      std::this_thread::sleep_for(5ms);
      VlLock lock(event.mutex);
      pthread_cond_broadcast(&event.cond.handle);  // as a spurious wake-up would
    }
  });
  const auto start = Clock::now();
  EXPECT_EQ(vl_arevent_timedwait(&event, 200000), 1);
  EXPECT_GE(Clock::now() - start, 200ms);
  spurious.join();
}

TEST_F(AutoResetEvent, TriggerFromOtherThreadWakesWaiter) {
  std::thread trigger([&] {
    std::this_thread::sleep_for(20ms);
    vl_arevent_trigger(&event);
  });
  EXPECT_EQ(vl_arevent_wait(&event), 0);
  trigger.join();
  EXPECT_FALSE(event.set);
}

TEST(Thread, RunsStartFunctionAndReturnsItsResult) {
  static int value = 7;
  vl_thread* thread = vl_thread_ctor(nullptr, [](void* arg) -> void* { return arg; }, "worker", &value);
  ASSERT_NE(thread, nullptr);
  void* result = nullptr;
  pthread_join(thread->handle, &result);
  EXPECT_EQ(result, &value);
  delete thread;
}

}  // namespace
