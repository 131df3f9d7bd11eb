// What the daemon asks ptp4l through its management socket, and how the
// answers become the system's PTP status and properties records.
#pragma once

#include "linuxptp/ptp4l_client.h"
#include "linuxptp/ptp_mgmt.h"
#include "vl/vl_ptp_status.h"

#include <cstdint>

// The data sets of one status read.
struct VlPtp4lSnapshot {
  VlPtpDefaultDs default_ds{};
  VlPtpCurrentDs current{};
  VlPtpParentDs parent{};
  VlPtpTimeProperties time{};
  VlPtpPortDs port{};
  char master_ip[16] = "";  // where ptp4l's unicast master table names it
};

// Reads every data set in `domain`; ok only when all of them came, each of
// its size. A ptp4l without a unicast master table leaves the address empty.
VlPtp4lResult vl_ptp4l_read_snapshot(VlPtp4lClient& client, uint8_t domain, VlPtp4lSnapshot* out);

// Synchronised: the port is slave and the offset within `max_offset_ns`.
VlPtpStatus vl_ptp4l_status(const VlPtp4lSnapshot& snapshot, uint64_t max_offset_ns);
// The settings of the local clock and port.
VlPtpProperties vl_ptp4l_properties(const VlPtp4lSnapshot& snapshot);

// TAI minus UTC as phc2sys applies it to the system clock: the current UTC
// offset when the time scale is PTP, else 0 (the system clock then runs on
// the master's own time scale).
uint32_t vl_ptp4l_tai_offset(const VlPtpTimeProperties& time);

// Why vl_ptp4l_apply_properties refused.
enum class VlPtp4lApply {
  applied,
  not_settable,  // a change ptp4l cannot make through management
  refused,       // ptp4l answered with an error, or not at all
};

// Applies the changes from `current` to `wanted` that ptp4l makes through
// management (domain, priority 1 and 2), in `domain`. Any other change is
// refused before anything is sent.
VlPtp4lApply vl_ptp4l_apply_properties(VlPtp4lClient& client, uint8_t domain, const VlPtpProperties& current,
                                       const VlPtpProperties& wanted);
