// Clock references: where media time is read and periodic work scheduled.
// The time scale is TAI nanoseconds.
#pragma once

#include "vl/vl_ptp.h"
#include "vlutil/vl_controllable.h"

#include <cstdint>

extern const VlTypeDescriptor vl_clockref_ts;
extern const VlTypeDescriptor vl_clockref_ptp_ts;

inline constexpr uint64_t vl_clockref_now_failed = UINT64_MAX;

class VlClockref : public VlControllable {
 public:
  const VlTypeDescriptor& type() const override { return vl_clockref_ts; }

  // TAI nanoseconds, or vl_clockref_now_failed. `status` may be null.
  virtual uint64_t now(int32_t* status);
  // Names the time source, such as "PTPv2 0".
  virtual const char* description();
  virtual bool compatible(const char* description);
  // Calls callback(user_data) once per period on a thread of the
  // reference's own, never concurrently with itself. Null on failure.
  virtual VlTimerHandle timer_create(uint64_t start_ns, uint64_t period_ns, vl_timer_callback callback,
                                     void* user_data);
  // When it returns, the callback is not called again.
  virtual bool timer_remove(VlTimerHandle handle);
};

class VlClockrefPtp : public VlClockref {
 public:
  const VlTypeDescriptor& type() const override { return vl_clockref_ptp_ts; }

  virtual void set_properties(const VlPtpProperties& properties);
  virtual VlPtpProperties get_properties();
  virtual VlPtpStatus get_status();
  // Largest offset from the master regarded as normal, in nanoseconds.
  virtual uint64_t get_max_offset();
};

uint64_t vl_clockref_now(VlClockref* self, int32_t* status);
const char* vl_clockref_description(VlClockref* self);
bool vl_clockref_compatible(VlClockref* self, const char* description);
VlTimerHandle vl_clockref_timer_create(VlClockref* self, uint64_t start_ns, uint64_t period_ns,
                                       vl_timer_callback callback, void* user_data);
bool vl_clockref_timer_remove(VlClockref* self, VlTimerHandle handle);
void vl_clockref_ptp_set_properties(VlClockrefPtp* self, const VlPtpProperties& properties);
VlPtpStatus vl_clockref_ptp_get_status(VlClockrefPtp* self);
uint64_t vl_clockref_ptp_get_max_offset(VlClockrefPtp* self);

// The clock reference with that description; the one registered first when
// several match. Null when none does.
VlClockref* vl_clockref_find(const char* description);
