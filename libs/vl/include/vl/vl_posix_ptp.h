// The clock reference on the system real-time clock, taken to be
// disciplined to PTP by the host. One instance per process.
#pragma once

#include "vl/vl_clockref.h"

extern const VlTypeDescriptor vl_posix_ptp_ts;

inline constexpr const char* vl_posix_ptp_description = "PTPv2 0";
inline constexpr uint64_t vl_posix_ptp_max_offset_ns = 1000;

// Creates the instance and registers it as PTP interface; false when it
// exists already or registration fails.
bool vl_posix_ptp_init();
void vl_posix_ptp_exit();

// The instance, or null.
VlClockrefPtp* vl_posix_ptp_instance();
