#include "vl/vl_posix_ptp.h"

#include "vlsys/vl_ticker.h"
#include "vlsys/vl_time.h"

#include <cstring>
#include <ctime>
#include <new>

const VlTypeDescriptor vl_posix_ptp_ts = {&vl_clockref_ptp_ts, "VlPosixPtp", nullptr};

namespace {

uint64_t realtime_now() {
  timespec ts{};
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return vl_clockref_now_failed;
  return static_cast<uint64_t>(ts.tv_sec) * vl_ns_per_second + static_cast<uint64_t>(ts.tv_nsec);
}

// Ticks on the multiples of the period on the real-time (PTP) scale, in
// phase with every other timer of that period and on the same thread; the
// first tick comes at once.
VlTimerHandle create_aligned_timer(uint64_t period_ns, vl_timer_callback callback, void* user_data) {
  return vl_ticker_add(vl_clock_realtime, 0, period_ns, callback, user_data);
}

bool remove_timer(VlTimerHandle handle) {
  vl_ticker_remove(static_cast<vl_ticker_entry*>(handle));
  return true;
}

// Its PTP interface: no status and nothing configurable.
class PosixPtpInterface final : public VlPtpInterface {
 public:
  uint8_t domain() override { return 0; }
  uint32_t leap_seconds() override { return 0; }
  uint64_t now() override { return realtime_now(); }
  VlTimerHandle timer_periodic(uint64_t, uint64_t period_ns, vl_timer_callback callback,
                               void* user_data) override {
    return create_aligned_timer(period_ns, callback, user_data);
  }
  bool timer_remove(VlTimerHandle handle) override { return remove_timer(handle); }
  bool get_ptp_status(VlPtpStatus*) override { return false; }
  bool set_ptp_properties(const VlPtpProperties&) override { return false; }
  bool get_ptp_properties(VlPtpProperties*) override { return false; }
  uint64_t max_offset_from_master() override { return vl_posix_ptp_max_offset_ns; }
};

class VlPosixPtp final : public VlClockrefPtp {
 public:
  const VlTypeDescriptor& type() const override { return vl_posix_ptp_ts; }

  uint64_t now(int32_t* status) override {
    if (status) *status = 0;
    return realtime_now();
  }
  const char* description() override { return vl_posix_ptp_description; }
  bool compatible(const char* description) override {
    return description && std::strcmp(description, vl_posix_ptp_description) == 0;
  }
  VlTimerHandle timer_create(uint64_t, uint64_t period_ns, vl_timer_callback callback, void* user_data) override {
    return create_aligned_timer(period_ns, callback, user_data);
  }
  bool timer_remove(VlTimerHandle handle) override { return remove_timer(handle); }
  void set_properties(const VlPtpProperties&) override {}
  VlPtpProperties get_properties() override { return VlPtpProperties{}; }
  VlPtpStatus get_status() override { return VlPtpStatus{}; }
  uint64_t get_max_offset() override { return vl_posix_ptp_max_offset_ns; }

  VlPtpInterface* interface() { return &interface_; }

 private:
  PosixPtpInterface interface_;
};

VlPosixPtp* instance = nullptr;

}  // namespace

bool vl_posix_ptp_init() {
  if (instance) return false;
  instance = new (std::nothrow) VlPosixPtp;
  if (!instance) return false;
  if (!vl_ptp_ifc_add(instance->interface())) {
    vl_object_delete(instance);
    instance = nullptr;
    return false;
  }
  return true;
}

void vl_posix_ptp_exit() {
  if (!instance) return;
  vl_ptp_ifc_remove(instance->interface());
  vl_object_delete(instance);
  instance = nullptr;
}

VlClockrefPtp* vl_posix_ptp_instance() { return instance; }
