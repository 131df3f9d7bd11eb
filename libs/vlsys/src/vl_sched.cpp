#include "vlsys/vl_sched.h"

#include "vlsys/vl_log.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>

namespace {

void set_thread_policy(int policy, int priority) {
  sched_param param{};
  int current_policy = 0;
  int rc = pthread_getschedparam(pthread_self(), &current_policy, &param);
  if (rc != 0) {
    VL_LOG(vl_log_general(), VL_LOG_WARN, "pthread_getschedparam error %d", rc);
    return;
  }
  param.sched_priority = priority;
  rc = pthread_setschedparam(pthread_self(), policy, &param);
  if (rc != 0) VL_LOG(vl_log_general(), VL_LOG_WARN, "pthread_setschedparam error %d", rc);
}

}  // namespace

void vl_sched_boost_thread() { set_thread_policy(SCHED_RR, sched_get_priority_max(SCHED_RR)); }

void vl_sched_diminish_thread() {
  const int priority = sched_get_priority_max(SCHED_OTHER) / 2 + sched_get_priority_min(SCHED_OTHER) / 2;
  set_thread_policy(SCHED_OTHER, priority);
}

void vl_sched_boost_process() {
  sched_param param{};
  if (sched_getparam(getpid(), &param) != 0) {
    VL_LOG(vl_log_general(), VL_LOG_WARN, "sched_getparam error %d", errno);
    return;
  }
  param.sched_priority = sched_get_priority_min(SCHED_RR);
  if (sched_setscheduler(getpid(), SCHED_RR, &param) != 0)
    VL_LOG(vl_log_general(), VL_LOG_WARN, "sched_setscheduler error %d", errno);
}
