// Logged wrappers over POSIX mutexes (default attributes).
#pragma once

#include <pthread.h>

struct vl_mutex {
  pthread_mutex_t handle;
};

// Initialises `mutex`, or a new heap mutex when null; null on failure.
vl_mutex* vl_mutex_ctor(vl_mutex* mutex);
// Destroys the mutex; the storage stays with whoever allocated it.
vl_mutex* vl_mutex_dtor(vl_mutex* mutex);
void vl_mutex_lock(vl_mutex* mutex);
void vl_mutex_unlock(vl_mutex* mutex);

// A vl_mutex initialised with its owner and destroyed with it; usable
// wherever a vl_mutex is. Check made() after construction.
class VlOwnedMutex : public vl_mutex {
 public:
  VlOwnedMutex() : made_(vl_mutex_ctor(this) != nullptr) {}
  ~VlOwnedMutex() {
    if (made_) vl_mutex_dtor(this);
  }
  VlOwnedMutex(const VlOwnedMutex&) = delete;
  VlOwnedMutex& operator=(const VlOwnedMutex&) = delete;
  bool made() const { return made_; }

 private:
  bool made_;
};

// Scoped lock over a vl_mutex.
class VlLock {
 public:
  explicit VlLock(vl_mutex& mutex) : mutex_(mutex) { vl_mutex_lock(&mutex_); }
  ~VlLock() { vl_mutex_unlock(&mutex_); }
  VlLock(const VlLock&) = delete;
  VlLock& operator=(const VlLock&) = delete;

 private:
  vl_mutex& mutex_;
};
