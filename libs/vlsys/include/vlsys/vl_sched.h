// Fixed scheduling choices. Failures are logged; the caller carries on.
#pragma once

// The calling thread to SCHED_RR at the maximum priority.
void vl_sched_boost_thread();
// The calling thread to SCHED_OTHER.
void vl_sched_diminish_thread();
// The process to SCHED_RR at the minimum priority.
void vl_sched_boost_process();
