#include "vlsys/vl_mutex.h"

#include "vlsys/vl_log.h"

#include <cerrno>
#include <new>

vl_mutex* vl_mutex_ctor(vl_mutex* mutex) {
  vl_mutex* target = mutex ? mutex : new (std::nothrow) vl_mutex;
  if (!target) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for mutex!");
    return nullptr;
  }
  const int rc = pthread_mutex_init(&target->handle, nullptr);
  if (rc != 0) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not initialize mutex: %i!", rc);
    if (!mutex) delete target;
    errno = rc;
    return nullptr;
  }
  return target;
}

vl_mutex* vl_mutex_dtor(vl_mutex* mutex) {
  if (!mutex) return nullptr;
  const int rc = pthread_mutex_destroy(&mutex->handle);
  if (rc != 0) VL_LOG(vl_log_general(), VL_LOG_FATAL, "error destroying mutex: %d", rc);
  return mutex;
}

void vl_mutex_lock(vl_mutex* mutex) {
  const int rc = pthread_mutex_lock(&mutex->handle);
  if (rc != 0) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "error locking mutex: %d", rc);
    errno = rc;
  }
}

void vl_mutex_unlock(vl_mutex* mutex) {
  const int rc = pthread_mutex_unlock(&mutex->handle);
  if (rc != 0) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "error unlocking mutex: %d", rc);
    errno = rc;
  }
}
