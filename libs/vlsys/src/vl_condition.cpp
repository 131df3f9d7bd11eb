#include "vlsys/vl_condition.h"

#include "vlsys/vl_log.h"

#include <cerrno>
#include <new>

vl_condition* vl_condition_ctor(vl_condition* cond) {
  vl_condition* target = cond ? cond : new (std::nothrow) vl_condition;
  if (!target) {
    errno = ENOMEM;
    return nullptr;
  }
  const int rc = pthread_cond_init(&target->handle, nullptr);
  if (rc != 0) {
    if (!cond) delete target;
    errno = rc;
    return nullptr;
  }
  return target;
}

vl_condition* vl_condition_dtor(vl_condition* cond) {
  if (!cond) return nullptr;
  const int rc = pthread_cond_destroy(&cond->handle);
  if (rc != 0) VL_LOG(vl_log_general(), VL_LOG_FATAL, "error destroying condition variable: %d", rc);
  return cond;
}

timespec vl_condition_deadline(uint32_t timeout_us) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  const uint64_t ns = static_cast<uint64_t>(deadline.tv_nsec) + static_cast<uint64_t>(timeout_us) * 1000ULL;
  deadline.tv_sec += static_cast<time_t>(ns / 1000000000ULL);
  deadline.tv_nsec = static_cast<long>(ns % 1000000000ULL);
  return deadline;
}

int vl_condition_timedwait(vl_condition* cond, vl_mutex* mutex, uint32_t timeout_us) {
  const timespec deadline = vl_condition_deadline(timeout_us);
  const int rc = pthread_cond_timedwait(&cond->handle, &mutex->handle, &deadline);
  errno = rc;
  if (rc == 0) return 0;
  return rc == ETIMEDOUT ? 1 : -1;
}
