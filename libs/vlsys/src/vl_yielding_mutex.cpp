#include "vlsys/vl_yielding_mutex.h"

VlYieldingMutex::VlYieldingMutex() {
  vl_mutex_ctor(&mutex_);
  vl_condition_ctor(&handed_back_);
}

VlYieldingMutex::~VlYieldingMutex() {
  vl_condition_dtor(&handed_back_);
  vl_mutex_dtor(&mutex_);
}

void VlYieldingMutex::lock() {
  waiting_.fetch_add(1);
  vl_mutex_lock(&mutex_);
  waiting_.fetch_sub(1);
}

void VlYieldingMutex::unlock() {
  pthread_cond_broadcast(&handed_back_.handle);
  vl_mutex_unlock(&mutex_);
}

void VlYieldingMutex::lock_last() {
  vl_mutex_lock(&mutex_);
  yield();
}

void VlYieldingMutex::yield() {
  while (waiting_.load() > 0) pthread_cond_wait(&handed_back_.handle, &mutex_.handle);
}
