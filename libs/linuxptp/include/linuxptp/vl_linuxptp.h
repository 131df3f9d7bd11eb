// The clock reference and PTP interface backed by ptp4l: PTP status from
// ptp4l's management socket, PTP time as the system clock (disciplined to
// UTC by phc2sys) plus the TAI-UTC offset ptp4l reports, so that media
// timestamps are on the PTP time scale. One instance per process; it
// stands in for the system-clock reference and carries its description.
//
// Threads and ownership: set up and torn down on the start-up thread. now()
// is lock-free for every thread. Timers call back on their own threads
// (vl_timer); they tick on the multiples of their period on the PTP scale
// and are re-armed when the TAI offset changes. Status reads (the PTP poll
// thread) and property changes (the IPC thread) go through the ptp4l
// source, whose client makes them take turns.
#pragma once

#include "vl/vl_clockref.h"

extern const VlTypeDescriptor vl_linuxptp_ts;

inline constexpr const char* vl_linuxptp_default_socket = "/var/run/ptp4l";
inline constexpr const char* vl_linuxptp_description = "PTPv2 0";
inline constexpr uint64_t vl_linuxptp_max_offset_ns = 1000;

// Creates the instance on the ptp4l whose management socket is
// `socket_path` and registers it as PTP interface; false when it exists
// already, no ptp4l answers there or registration fails.
bool vl_linuxptp_init(const char* socket_path);
void vl_linuxptp_exit();

// The instance, or null.
VlClockrefPtp* vl_linuxptp_instance();

// The platform's choice of PTP reference: this one when a ptp4l answers at
// `socket_path`, otherwise (with an info line saying so) the system-clock
// reference. A null or empty path chooses the system clock silently. True
// when a reference was registered.
bool vl_linuxptp_select(const char* socket_path);
