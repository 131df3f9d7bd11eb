#include "vlsys/vl_arevent.h"

#include <cerrno>

int vl_arevent_ctor(vl_arevent* event) {
  event->set = false;
  if (!vl_mutex_ctor(&event->mutex)) return errno;
  if (!vl_condition_ctor(&event->cond)) {
    const int err = errno;
    vl_mutex_dtor(&event->mutex);
    return err;
  }
  return 0;
}

void vl_arevent_dtor(vl_arevent* event) {
  vl_condition_dtor(&event->cond);
  vl_mutex_dtor(&event->mutex);
}

int vl_arevent_trigger(vl_arevent* event) {
  VlLock lock(event->mutex);
  event->set = true;
  return pthread_cond_signal(&event->cond.handle);
}

int vl_arevent_wait(vl_arevent* event) {
  VlLock lock(event->mutex);
  int rc = 0;
  while (!event->set && rc == 0) rc = pthread_cond_wait(&event->cond.handle, &event->mutex.handle);
  if (rc == 0) event->set = false;
  return rc;
}

int vl_arevent_timedwait(vl_arevent* event, uint32_t timeout_us) {
  const timespec deadline = vl_condition_deadline(timeout_us);
  VlLock lock(event->mutex);
  int rc = 0;
  while (!event->set && rc == 0)
    rc = pthread_cond_timedwait(&event->cond.handle, &event->mutex.handle, &deadline);
  errno = rc;
  // A trigger that arrived together with the time-out still counts.
  if (event->set) {
    event->set = false;
    return 0;
  }
  return rc == ETIMEDOUT ? 1 : -1;
}
