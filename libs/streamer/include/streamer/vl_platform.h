// Platform initialisation and exit: the process-wide services every
// component needs, brought up and torn down in a fixed order.
#pragma once

// 0, or the negative failure code of the first failing step.
int vl_platform_init();
void vl_platform_exit();

// Tears down the system-clock PTP reference.
void imp_ptp_exit();
