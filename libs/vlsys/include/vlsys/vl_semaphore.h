// Process-private POSIX unnamed semaphores. Posting and waiting use
// sem_post and sem_wait directly.
#pragma once

#include <semaphore.h>

struct vl_semaphore {
  sem_t handle;
};

vl_semaphore* vl_semaphore_ctor(vl_semaphore* sem, unsigned initial_count);
vl_semaphore* vl_semaphore_dtor(vl_semaphore* sem);
