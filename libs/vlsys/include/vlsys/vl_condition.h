// POSIX condition variables with a relative timed wait.
#pragma once

#include "vlsys/vl_mutex.h"

#include <cstdint>
#include <ctime>

struct vl_condition {
  pthread_cond_t handle;
};

vl_condition* vl_condition_ctor(vl_condition* cond);
vl_condition* vl_condition_dtor(vl_condition* cond);

// Waits at most `timeout_us` microseconds with `mutex` held. 0 when woken,
// 1 on time-out, -1 on other failures; errno holds the platform result.
int vl_condition_timedwait(vl_condition* cond, vl_mutex* mutex, uint32_t timeout_us);

// The CLOCK_REALTIME instant `timeout_us` microseconds from now.
timespec vl_condition_deadline(uint32_t timeout_us);
