#include "vlsys/vl_semaphore.h"

#include "vlsys/vl_log.h"

#include <cerrno>
#include <new>

vl_semaphore* vl_semaphore_ctor(vl_semaphore* sem, unsigned initial_count) {
  vl_semaphore* target = sem ? sem : new (std::nothrow) vl_semaphore;
  if (!target) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for semaphore!");
    errno = ENOMEM;
    return nullptr;
  }
  if (sem_init(&target->handle, 0, initial_count) != 0) {
    const int err = errno;
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not initialize semaphore!");
    if (!sem) delete target;
    errno = err;
    return nullptr;
  }
  return target;
}

vl_semaphore* vl_semaphore_dtor(vl_semaphore* sem) {
  if (!sem) return nullptr;
  if (sem_destroy(&sem->handle) != 0)
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "error destroying semaphore: %d", errno);
  return sem;
}
