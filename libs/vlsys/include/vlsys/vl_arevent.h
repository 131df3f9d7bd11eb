// Auto-reset event: a trigger wakes one waiter or is remembered (once) for
// the next wait.
#pragma once

#include "vlsys/vl_condition.h"

struct vl_arevent {
  vl_mutex mutex;
  vl_condition cond;
  bool set;
};

// 0, or the platform error number.
int vl_arevent_ctor(vl_arevent* event);
void vl_arevent_dtor(vl_arevent* event);
int vl_arevent_trigger(vl_arevent* event);
// 0 once triggered; spurious wake-ups do not end the wait.
int vl_arevent_wait(vl_arevent* event);
// 0 once triggered, 1 on time-out, -1 on failure.
int vl_arevent_timedwait(vl_arevent* event, uint32_t timeout_us);
