#include "linuxptp/ptp4l_source.h"

#include "vlsys/vl_log.h"

VlPtp4lSource::VlPtp4lSource(std::string socket_path, uint64_t max_offset_ns)
    : client_(std::move(socket_path)), max_offset_ns_(max_offset_ns) {}

bool VlPtp4lSource::connect() {
  const int domain = client_.find_domain(domain_.load());
  VlPtp4lSnapshot snapshot;
  if (domain < 0 || vl_ptp4l_read_snapshot(client_, static_cast<uint8_t>(domain), &snapshot) != VlPtp4lResult::ok)
    return false;
  domain_.store(snapshot.default_ds.domain);
  tai_offset_.store(vl_ptp4l_tai_offset(snapshot.time));
  return true;
}

bool VlPtp4lSource::read_status(VlPtpStatus* status) {
  VlPtp4lSnapshot snapshot;
  if (!read_snapshot(&snapshot)) return false;
  adopt(snapshot);
  *status = vl_ptp4l_status(snapshot, max_offset_ns_);
  return true;
}

bool VlPtp4lSource::read_properties(VlPtpProperties* properties) {
  VlPtp4lSnapshot snapshot;
  if (!read_snapshot(&snapshot)) return false;
  *properties = vl_ptp4l_properties(snapshot);
  return true;
}

bool VlPtp4lSource::apply(const VlPtpProperties& wanted) {
  VlPtp4lSnapshot snapshot;
  if (!read_snapshot(&snapshot)) return false;
  const VlPtpProperties current = vl_ptp4l_properties(snapshot);
  const VlPtp4lApply result = vl_ptp4l_apply_properties(client_, current.domain, current, wanted);
  if (result == VlPtp4lApply::not_settable)
    VL_LOG(vl_log_general(), VL_LOG_INFO,
           "ptp4l changes only its priorities (and its domain where it can) at run time; the rest belongs in its "
           "configuration file");
  return result == VlPtp4lApply::applied;
}

// A ptp4l restarted with another configuration answers in its new domain
// only: a time-out sends the search out.
bool VlPtp4lSource::read_snapshot(VlPtp4lSnapshot* snapshot) {
  VlPtp4lResult result = vl_ptp4l_read_snapshot(client_, domain_.load(), snapshot);
  if (result == VlPtp4lResult::timeout) {
    const int found = client_.find_domain(domain_.load());
    if (found >= 0) result = vl_ptp4l_read_snapshot(client_, static_cast<uint8_t>(found), snapshot);
  }
  if (result == VlPtp4lResult::ok) return true;
  if (!failing_.exchange(true))
    VL_LOG(vl_log_general(), VL_LOG_WARN, "ptp4l at %s: %s", socket_path().c_str(), vl_ptp4l_result_text(result));
  return false;
}

void VlPtp4lSource::adopt(const VlPtp4lSnapshot& snapshot) {
  const uint8_t domain = snapshot.default_ds.domain;
  const uint8_t old_domain = domain_.exchange(domain);
  if (old_domain != domain)
    VL_LOG(vl_log_general(), VL_LOG_INFO, "ptp4l at %s: domain changed from %u to %u", socket_path().c_str(),
           old_domain, domain);
  const uint32_t tai = vl_ptp4l_tai_offset(snapshot.time);
  const uint32_t old_tai = tai_offset_.exchange(tai);
  if (old_tai != tai)
    VL_LOG(vl_log_general(), VL_LOG_INFO, "ptp4l at %s: TAI-UTC offset changed from %u s to %u s",
           socket_path().c_str(), old_tai, tai);
  if (failing_.exchange(false))
    VL_LOG(vl_log_general(), VL_LOG_INFO, "ptp4l at %s answers again", socket_path().c_str());
}
