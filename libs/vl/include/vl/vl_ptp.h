// The registry of PTP interfaces, and the thread that polls one of them for
// the device's PTP status.
#pragma once

#include "vl/vl_ptp_status.h"
#include "vlsys/vl_timer.h"

#include <cstdint>

class VlDevice;

using VlTimerHandle = void*;

// What a provider of PTP time offers the system.
class VlPtpInterface {
 public:
  virtual ~VlPtpInterface() = default;
  virtual uint8_t domain() = 0;
  // TAI minus UTC in seconds.
  virtual uint32_t leap_seconds() = 0;
  // PTP time in TAI nanoseconds; all ones on failure.
  virtual uint64_t now() = 0;
  virtual VlTimerHandle timer_periodic(uint64_t start_ns, uint64_t period_ns, vl_timer_callback callback,
                                       void* user_data) = 0;
  virtual bool timer_remove(VlTimerHandle handle) = 0;
  // False when no status is available.
  virtual bool get_ptp_status(VlPtpStatus* status) = 0;
  virtual bool set_ptp_properties(const VlPtpProperties& properties) = 0;
  virtual bool get_ptp_properties(VlPtpProperties* properties) = 0;
  virtual uint64_t max_offset_from_master() = 0;
};

// Domain value that selects any interface.
inline constexpr int vl_ptp_any_domain = 256;

int vl_ptp_init();
void vl_ptp_exit();

// False when an interface of the same domain is registered.
bool vl_ptp_ifc_add(VlPtpInterface* ifc);
bool vl_ptp_ifc_remove(VlPtpInterface* ifc);
// 256: the first registered; otherwise the first of that domain (low 8 bits).
VlPtpInterface* vl_ptp_ifc_get(int domain);
int vl_ptp_ifc_count();

// With a device: starts "ptp_poll_thread" for it (0, or the thread start's
// error). With null: stops that thread and waits for it.
int vl_ptp_poll(VlDevice* device);

// How long the poller sleeps for a log2 sync interval: 0.999 of it, in
// microseconds.
uint64_t vl_ptp_poll_sleep_us(int8_t log_sync);
