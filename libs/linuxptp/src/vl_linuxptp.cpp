#include "linuxptp/vl_linuxptp.h"

#include "linuxptp/ptp4l_source.h"
#include "vl/vl_posix_ptp.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_ticker.h"
#include "vlsys/vl_time.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <vector>

const VlTypeDescriptor vl_linuxptp_ts = {&vl_clockref_ptp_ts, "VlLinuxPtp", nullptr};

namespace {

// The system clock runs on UTC; PTP time is ahead by the TAI offset.
uint64_t ptp_now(uint32_t tai_offset) {
  timespec ts{};
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return vl_clockref_now_failed;
  return (static_cast<uint64_t>(ts.tv_sec) + tai_offset) * vl_ns_per_second + static_cast<uint64_t>(ts.tv_nsec);
}

// The phase on the real-time clock at which a timer ticks on the multiples
// of its period on the PTP scale.
uint64_t phase(uint64_t period_ns, uint32_t tai_offset) {
  const uint64_t shift = static_cast<uint64_t>(tai_offset) * vl_ns_per_second % period_ns;
  return period_ns - shift;
}

// Timers on the real-time clock in phase with PTP time; those of one period
// share a thread.
class PtpTimers {
 public:
  ~PtpTimers() {
    for (const Entry& e : entries_) vl_ticker_remove(e.timer);
  }

  VlTimerHandle create(uint64_t period_ns, vl_timer_callback callback, void* user_data, uint32_t tai_offset) {
    if (period_ns == 0) {
      errno = EINVAL;
      return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    try {
      entries_.reserve(entries_.size() + 1);
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      return nullptr;
    }
    vl_ticker_entry* timer = vl_ticker_add(vl_clock_realtime, phase(period_ns, tai_offset), period_ns, callback,
                                           user_data);
    if (timer) entries_.push_back({timer, period_ns});
    return timer;
  }

  // Leaves the list first, so that a realignment never touches a timer
  // that is going away.
  bool remove(VlTimerHandle handle) {
    auto* timer = static_cast<vl_ticker_entry*>(handle);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = std::find_if(entries_.begin(), entries_.end(), [timer](const Entry& e) { return e.timer == timer; });
      if (found == entries_.end()) return false;
      entries_.erase(found);
    }
    vl_ticker_remove(timer);
    return true;
  }

  void realign(uint32_t tai_offset) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& e : entries_) vl_ticker_move(e.timer, phase(e.period_ns, tai_offset), e.period_ns);
  }

 private:
  struct Entry {
    vl_ticker_entry* timer;
    uint64_t period_ns;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

class VlLinuxPtp final : public VlClockrefPtp {
 public:
  explicit VlLinuxPtp(const char* socket_path) : source_(socket_path, vl_linuxptp_max_offset_ns) {}

  bool connect() { return source_.connect(); }
  const VlPtp4lSource& source() const { return source_; }
  VlPtpInterface* interface() { return &interface_; }

  const VlTypeDescriptor& type() const override { return vl_linuxptp_ts; }
  uint64_t now(int32_t* status) override {
    if (status) *status = 0;
    return ptp_now(source_.tai_offset());
  }
  const char* description() override { return vl_linuxptp_description; }
  bool compatible(const char* description) override {
    return description && std::strcmp(description, vl_linuxptp_description) == 0;
  }
  VlTimerHandle timer_create(uint64_t, uint64_t period_ns, vl_timer_callback callback, void* user_data) override {
    return timers_.create(period_ns, callback, user_data, source_.tai_offset());
  }
  bool timer_remove(VlTimerHandle handle) override { return timers_.remove(handle); }
  void set_properties(const VlPtpProperties& properties) override { source_.apply(properties); }
  VlPtpProperties get_properties() override {
    VlPtpProperties properties{};
    source_.read_properties(&properties);
    return properties;
  }
  VlPtpStatus get_status() override {
    VlPtpStatus status{};
    if (!read_status(&status)) status = VlPtpStatus{};
    return status;
  }
  uint64_t get_max_offset() override { return source_.max_offset_ns(); }

 private:
  bool read_status(VlPtpStatus* status) {
    const uint32_t before = source_.tai_offset();
    if (!source_.read_status(status)) return false;
    const uint32_t after = source_.tai_offset();
    if (after != before) timers_.realign(after);
    return true;
  }

  class Interface final : public VlPtpInterface {
   public:
    explicit Interface(VlLinuxPtp& owner) : owner_(owner) {}
    uint8_t domain() override { return owner_.source_.domain(); }
    uint32_t leap_seconds() override { return owner_.source_.tai_offset(); }
    uint64_t now() override { return ptp_now(owner_.source_.tai_offset()); }
    VlTimerHandle timer_periodic(uint64_t start_ns, uint64_t period_ns, vl_timer_callback callback,
                                 void* user_data) override {
      return owner_.timer_create(start_ns, period_ns, callback, user_data);
    }
    bool timer_remove(VlTimerHandle handle) override { return owner_.timer_remove(handle); }
    bool get_ptp_status(VlPtpStatus* status) override { return owner_.read_status(status); }
    bool set_ptp_properties(const VlPtpProperties& properties) override { return owner_.source_.apply(properties); }
    bool get_ptp_properties(VlPtpProperties* properties) override {
      return owner_.source_.read_properties(properties);
    }
    uint64_t max_offset_from_master() override { return owner_.source_.max_offset_ns(); }

   private:
    VlLinuxPtp& owner_;
  };

  VlPtp4lSource source_;
  PtpTimers timers_;
  Interface interface_{*this};
};

VlLinuxPtp* instance = nullptr;

}  // namespace

bool vl_linuxptp_init(const char* socket_path) {
  if (instance || !socket_path) return false;
  auto* reference = new (std::nothrow) VlLinuxPtp(socket_path);
  if (!reference) return false;
  if (!reference->connect() || !vl_ptp_ifc_add(reference->interface())) {
    vl_object_delete(reference);
    return false;
  }
  instance = reference;
  VL_LOG(vl_log_general(), VL_LOG_INFO, "PTP time from ptp4l at %s: domain %u, TAI-UTC offset %u s", socket_path,
         instance->source().domain(), instance->source().tai_offset());
  return true;
}

void vl_linuxptp_exit() {
  if (!instance) return;
  vl_ptp_ifc_remove(instance->interface());
  vl_object_delete(instance);
  instance = nullptr;
}

VlClockrefPtp* vl_linuxptp_instance() { return instance; }

bool vl_linuxptp_select(const char* socket_path) {
  if (!socket_path || !*socket_path) return vl_posix_ptp_init();
  if (access(socket_path, F_OK) == 0 && vl_linuxptp_init(socket_path)) return true;
  VL_LOG(vl_log_general(), VL_LOG_INFO,
         "No ptp4l answers at %s: PTP time is the system clock, taken as TAI (offset 0), without PTP status",
         socket_path);
  return vl_posix_ptp_init();
}
