// A mutex that a busy holder hands over. A timer thread that serves tick
// after tick takes its lock again right after releasing it, before a thread
// that was woken to take it can run, so that thread could wait for ever. Here
// the busy holder takes the lock with lock_last, or calls yield while holding
// it, and every thread already waiting goes first.
#pragma once

#include "vlsys/vl_condition.h"
#include "vlsys/vl_mutex.h"

#include <atomic>

class VlYieldingMutex {
 public:
  VlYieldingMutex();
  ~VlYieldingMutex();
  VlYieldingMutex(const VlYieldingMutex&) = delete;
  VlYieldingMutex& operator=(const VlYieldingMutex&) = delete;

  void lock();
  void unlock();
  // The lock, after every thread that waits for it now.
  void lock_last();
  // With the lock held: lets every thread that waits for it go first.
  void yield();

  // For condition waits of the holder.
  vl_mutex& native() { return mutex_; }

 private:
  vl_mutex mutex_;
  vl_condition handed_back_;  // a waiting thread had its turn
  std::atomic<int> waiting_{0};
};

// Scoped lock().
class VlYieldingLock {
 public:
  explicit VlYieldingLock(VlYieldingMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~VlYieldingLock() { mutex_.unlock(); }
  VlYieldingLock(const VlYieldingLock&) = delete;
  VlYieldingLock& operator=(const VlYieldingLock&) = delete;

 private:
  VlYieldingMutex& mutex_;
};

// Scoped lock_last().
class VlYieldingLockLast {
 public:
  explicit VlYieldingLockLast(VlYieldingMutex& mutex) : mutex_(mutex) { mutex_.lock_last(); }
  ~VlYieldingLockLast() { mutex_.unlock(); }
  VlYieldingLockLast(const VlYieldingLockLast&) = delete;
  VlYieldingLockLast& operator=(const VlYieldingLockLast&) = delete;

 private:
  VlYieldingMutex& mutex_;
};
