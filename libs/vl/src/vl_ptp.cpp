#include "vl/vl_ptp.h"

#include "vl/vl_device.h"
#include "vlsys/vl_condition.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_thread.h"
#include "vlsys/vl_time.h"
#include "vlutil/vl_controllable.h"
#include "vlutil/vl_growable_array.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <new>

namespace {

constexpr int initial_capacity = 1;
constexpr uint64_t failure_retry_us = 999000;

// Registered during start-up and shutdown only, so it has no lock.
VlGrowableArray<VlPtpInterface*>* registry = nullptr;

VlPtpInterface* first_of_domain(int domain) {
  if (!registry) return nullptr;
  for (int i = 0; i < registry->count(); ++i) {
    VlPtpInterface* ifc = (*registry)[i];
    if (domain == vl_ptp_any_domain || ifc->domain() == static_cast<uint8_t>(domain)) return ifc;
  }
  return nullptr;
}

// The poll thread and what stops it: a request and a wake-up of its sleeps.
struct Poller {
  VlDevice* device = nullptr;
  vl_thread thread{};
  vl_mutex mutex{};
  vl_condition cond{};
  bool stop_requested = false;
};

Poller* poller = nullptr;

// False when asked to stop.
bool poll_sleep(Poller* p, uint64_t us) {
  const uint64_t ns = us * 1000ULL;
  timespec deadline = vl_condition_deadline(0);
  deadline.tv_sec += static_cast<time_t>(ns / vl_ns_per_second);
  deadline.tv_nsec += static_cast<long>(ns % vl_ns_per_second);
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  VlLock lock(p->mutex);
  int rc = 0;
  while (!p->stop_requested && rc != ETIMEDOUT)
    rc = pthread_cond_timedwait(&p->cond.handle, &p->mutex.handle, &deadline);
  return !p->stop_requested;
}

// The interface to ask, following the domain it reports.
VlPtpInterface* select_interface(int& followed_domain) {
  VlPtpInterface* ifc = first_of_domain(followed_domain);
  if (!ifc) return nullptr;
  const uint8_t domain = ifc->domain();
  VlPtpInterface* same = first_of_domain(domain);
  const uint8_t again = same ? same->domain() : domain;
  if (domain != again) {
    VL_LOG(vl_log_general(), VL_LOG_INFO, "PTP domain changed from %u to %u", domain, again);
    followed_domain = again;
  }
  return same ? same : ifc;
}

void set_system_time_if_needed(VlPtpInterface* ifc) {
  const uint64_t system_seconds = vl_realtime_ns() / vl_ns_per_second + ifc->leap_seconds();
  const uint64_t ptp_seconds = ifc->now() / vl_ns_per_second;
  if (system_seconds == ptp_seconds) return;
  if (!vl_set_system_time(ifc->now(), ifc->leap_seconds()))
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Cannot set system time");
  VL_LOG(vl_log_general(), VL_LOG_DEBUG, "System time is set to PTP time");
}

void report_synchronized(VlDevice* device, VlPtpInterface* ifc, const VlPtpStatus& status,
                          bool was_synchronized) {
  if (status.offset_nsec > ifc->max_offset_from_master())
    VL_LOG(vl_log_general(), VL_LOG_TRACE, "PTP offset is very big (ns): %c%" PRIu64,
           status.offset_sign ? '-' : ' ', status.offset_nsec);
  if (was_synchronized) return;
  if (status.port_state == vl_ptp_port_state_slave) set_system_time_if_needed(ifc);
  VL_LOG(vl_log_general(), VL_LOG_WARN,
         "PTP client is now synchronized to master %s (gm: %s), starting stream resync!", status.master_ip,
         status.gm_id);
  vl_device_resync_streams(device);
}

void* ptp_poll_status(void* argument) {
  auto* p = static_cast<Poller*>(argument);
  VlDevice* device = p->device;
  int followed_domain = vl_ptp_any_domain;
  bool failure_reported = false;
  for (;;) {
    vl_mutex_lock(&device->ptp_lock);
    const bool was_synchronized = vl_ptp_status_is_synchronized(device->ptp_status);
    char previous_master[sizeof device->ptp_status.master_ip];
    std::memcpy(previous_master, device->ptp_status.master_ip, sizeof previous_master);
    previous_master[sizeof previous_master - 1] = '\0';

    VlPtpInterface* ifc = select_interface(followed_domain);
    if (!ifc) {
      VL_LOG(vl_log_general(), VL_LOG_ERROR, "PTP interface is not ready!");
      vl_mutex_unlock(&device->ptp_lock);
      return nullptr;
    }
    if (!ifc->get_ptp_status(&device->ptp_status)) {
      device->ptp_status = VlPtpStatus{};
      if (!failure_reported)
        VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not get PTP status! PTP is statet _NOT_ synchronized now!");
      failure_reported = true;
      vl_mutex_unlock(&device->ptp_lock);
      if (!poll_sleep(p, failure_retry_us)) return nullptr;
      continue;
    }
    const VlPtpStatus status = device->ptp_status;
    vl_mutex_unlock(&device->ptp_lock);

    if (vl_ptp_status_is_synchronized(status))
      report_synchronized(device, ifc, status, was_synchronized);
    else if (was_synchronized)
      VL_LOG(vl_log_general(), VL_LOG_ERROR, "PTP client has lost it's synchronization to master %s!",
             previous_master);
    failure_reported = false;
    if (!poll_sleep(p, vl_ptp_poll_sleep_us(status.log_sync))) return nullptr;
  }
}

int log_leftover(void* context, VlControllable* obj) {
  auto* number = static_cast<unsigned*>(context);
  const char* name = obj->type().type_name ? obj->type().type_name : "---anon---";
  VL_LOG(vl_log_general(), VL_LOG_INFO, "Registered controllable %u at addr 0x%08x is type %s", *number,
         static_cast<unsigned>(reinterpret_cast<uintptr_t>(obj)), name);
  ++*number;
  return 0;
}

void stop_poller() {
  if (!poller) return;
  {
    VlLock lock(poller->mutex);
    poller->stop_requested = true;
    pthread_cond_signal(&poller->cond.handle);
  }
  pthread_join(poller->thread.handle, nullptr);
  vl_condition_dtor(&poller->cond);
  vl_mutex_dtor(&poller->mutex);
  delete poller;
  poller = nullptr;
}

int start_poller(VlDevice* device) {
  if (poller) return EEXIST;
  poller = new (std::nothrow) Poller;
  if (!poller) return ENOMEM;
  poller->device = device;
  vl_mutex_ctor(&poller->mutex);
  vl_condition_ctor(&poller->cond);
  if (!vl_thread_ctor(&poller->thread, ptp_poll_status, "ptp_poll_thread", poller)) {
    const int err = errno;
    vl_condition_dtor(&poller->cond);
    vl_mutex_dtor(&poller->mutex);
    delete poller;
    poller = nullptr;
    return err;
  }
  return 0;
}

}  // namespace

int vl_ptp_init() {
  if (!registry) registry = new (std::nothrow) VlGrowableArray<VlPtpInterface*>(initial_capacity);
  return registry ? 0 : -1;
}

void vl_ptp_exit() {
  if (registry && registry->count() > 0)
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "PTP interface registry still contains %d entries!",
           registry->count());
  delete registry;
  registry = nullptr;

  unsigned leftovers = 0;
  if (log4c_category_get_chainedpriority(vl_log_general()) >= VL_LOG_INFO)
    vl_controllable_iterate(log_leftover, &leftovers);
  else
    for (VlControllable* c = vl_controllable_first(); c; c = c->next_controllable()) ++leftovers;
  if (leftovers > 0)
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Failed to unregister %u controllable objects", leftovers);
}

bool vl_ptp_ifc_add(VlPtpInterface* ifc) {
  if (!ifc || !registry || first_of_domain(ifc->domain())) return false;
  return registry->append(ifc);
}

bool vl_ptp_ifc_remove(VlPtpInterface* ifc) {
  const int index = registry ? registry->find(ifc) : -1;
  if (index < 0) return false;
  registry->remove_at(index);
  return true;
}

VlPtpInterface* vl_ptp_ifc_get(int domain) {
  return first_of_domain(domain == vl_ptp_any_domain ? domain : (domain & 0xFF));
}

int vl_ptp_ifc_count() { return registry ? registry->count() : 0; }

int vl_ptp_poll(VlDevice* device) {
  if (!device) {
    stop_poller();
    return 0;
  }
  return start_poller(device);
}

uint64_t vl_ptp_poll_sleep_us(int8_t log_sync) {
  // Out-of-range intervals from a peer must neither overflow the shift nor
  // make the poller spin: at most 2^10 s, at least 1 ms.
  const int l = log_sync < -30 ? -30 : (log_sync > 10 ? 10 : log_sync);
  const uint64_t interval_ms = l >= 0 ? 1000ULL << l : 1000ULL / (1ULL << -l);
  return (interval_ms > 0 ? interval_ms : 1) * 999ULL;
}
