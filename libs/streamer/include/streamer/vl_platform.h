// Platform initialisation and exit: the process-wide services every
// component needs, brought up and torn down in a fixed order.
#pragma once

// 0, or the negative failure code of the first failing step.
int vl_platform_init();
void vl_platform_exit();

// The management socket of the ptp4l whose PTP time the platform uses when
// it answers (default "/var/run/ptp4l"); null or empty: the system clock
// only. Read by the next vl_platform_init.
void vl_platform_set_ptp_socket(const char* path);

// Tears down the PTP reference start-up chose.
void imp_ptp_exit();
