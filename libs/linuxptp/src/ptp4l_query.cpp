#include "linuxptp/ptp4l_query.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace {

constexpr int offset_fraction_bits = 16;

template <typename DataSet>
VlPtp4lResult read(VlPtp4lClient& client, uint8_t domain, uint16_t id,
                   bool (*decode)(std::span<const uint8_t>, DataSet*), DataSet* out) {
  VlPtp4lAnswer answer;
  const VlPtp4lResult result = client.get(domain, id, &answer);
  if (result != VlPtp4lResult::ok) return result;
  return decode(answer.data, out) ? VlPtp4lResult::ok : VlPtp4lResult::bad_answer;
}

// A ptp4l that keeps no unicast master table refuses the request; that
// leaves the address empty.
VlPtp4lResult read_master_ip(VlPtp4lClient& client, uint8_t domain, char (&text)[16]) {
  VlPtp4lAnswer answer;
  const VlPtp4lResult result = client.get(domain, vl_ptp_mid_unicast_master_table_np, &answer);
  if (result == VlPtp4lResult::refused) return VlPtp4lResult::ok;
  if (result != VlPtp4lResult::ok) return result;
  bool found = false;
  uint32_t address = 0;
  if (!vl_ptp_decode_selected_master(answer.data, &found, &address)) return VlPtp4lResult::bad_answer;
  if (found) inet_ntop(AF_INET, &address, text, sizeof text);
  return VlPtp4lResult::ok;
}

uint64_t magnitude_ns(int64_t scaled) {
  const uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  return magnitude >> offset_fraction_bits;
}

}  // namespace

VlPtp4lResult vl_ptp4l_read_snapshot(VlPtp4lClient& client, uint8_t domain, VlPtp4lSnapshot* out) {
  VlPtp4lSnapshot s;
  VlPtp4lResult r = read(client, domain, vl_ptp_mid_default_data_set, vl_ptp_decode_default_ds, &s.default_ds);
  if (r == VlPtp4lResult::ok)
    r = read(client, domain, vl_ptp_mid_current_data_set, vl_ptp_decode_current_ds, &s.current);
  if (r == VlPtp4lResult::ok)
    r = read(client, domain, vl_ptp_mid_parent_data_set, vl_ptp_decode_parent_ds, &s.parent);
  if (r == VlPtp4lResult::ok)
    r = read(client, domain, vl_ptp_mid_time_properties_data_set, vl_ptp_decode_time_properties, &s.time);
  if (r == VlPtp4lResult::ok) r = read(client, domain, vl_ptp_mid_port_data_set, vl_ptp_decode_port_ds, &s.port);
  if (r == VlPtp4lResult::ok) r = read_master_ip(client, domain, s.master_ip);
  if (r == VlPtp4lResult::ok) *out = s;
  return r;
}

VlPtpStatus vl_ptp4l_status(const VlPtp4lSnapshot& snapshot, uint64_t max_offset_ns) {
  VlPtpStatus s{};
  s.domain = snapshot.default_ds.domain;
  s.port_state = snapshot.port.port_state;
  const uint64_t offset = magnitude_ns(snapshot.current.offset_from_master);
  const bool synchronized = s.port_state == vl_ptp_port_state_slave && offset <= max_offset_ns;
  s.flags = static_cast<uint8_t>((snapshot.default_ds.slave_only ? vl_ptp_flag_slave_only : 0) |
                                 (synchronized ? vl_ptp_flag_synchronized : 0));
  std::memcpy(s.master_ip, snapshot.master_ip, sizeof s.master_ip);
  s.master_ip[sizeof s.master_ip - 1] = '\0';
  char gm[vl_ptp_clock_identity_text_size];
  vl_ptp_clock_identity_text(snapshot.parent.gm_identity, gm);
  static_assert(sizeof gm == sizeof s.gm_id);
  std::memcpy(s.gm_id, gm, sizeof s.gm_id);
  s.delay_mechanism = snapshot.port.delay_mechanism;
  s.gm_clock_class = snapshot.parent.gm_quality.clock_class;
  s.gm_clock_accuracy = snapshot.parent.gm_quality.clock_accuracy;
  s.offset_nsec = offset;
  s.offset_sign = snapshot.current.offset_from_master < 0 && offset != 0 ? 1 : 0;
  s.prio_1 = snapshot.parent.gm_priority1;
  s.prio_2 = snapshot.parent.gm_priority2;
  s.log_announce = snapshot.port.log_announce_interval;
  s.log_sync = snapshot.port.log_sync_interval;
  return s;
}

VlPtpProperties vl_ptp4l_properties(const VlPtp4lSnapshot& snapshot) {
  VlPtpProperties p{};
  p.domain = snapshot.default_ds.domain;
  p.prio_1 = snapshot.default_ds.priority1;
  p.prio_2 = snapshot.default_ds.priority2;
  p.log_announce = snapshot.port.log_announce_interval;
  p.log_sync = snapshot.port.log_sync_interval;
  p.flags = snapshot.default_ds.slave_only ? vl_ptp_flag_slave_only : 0;
  p.delay_mechanism = snapshot.port.delay_mechanism;
  return p;
}

uint32_t vl_ptp4l_tai_offset(const VlPtpTimeProperties& time) {
  if (!(time.flags & vl_ptp_tp_ptp_timescale) || time.current_utc_offset < 0) return 0;
  return static_cast<uint32_t>(time.current_utc_offset);
}

VlPtp4lApply vl_ptp4l_apply_properties(VlPtp4lClient& client, uint8_t domain, const VlPtpProperties& current,
                                       const VlPtpProperties& wanted) {
  if (wanted.log_announce != current.log_announce || wanted.log_sync != current.log_sync ||
      (wanted.flags & vl_ptp_flag_slave_only) != (current.flags & vl_ptp_flag_slave_only) ||
      wanted.delay_mechanism != current.delay_mechanism || wanted.dscp != current.dscp)
    return VlPtp4lApply::not_settable;
  struct Change {
    uint16_t id;
    uint8_t from;
    uint8_t to;
  };
  // The domain first: after it, ptp4l answers in the new one.
  const Change changes[] = {{vl_ptp_mid_domain, current.domain, wanted.domain},
                            {vl_ptp_mid_priority1, current.prio_1, wanted.prio_1},
                            {vl_ptp_mid_priority2, current.prio_2, wanted.prio_2}};
  for (const Change& change : changes) {
    if (change.from == change.to) continue;
    const uint8_t datum[2] = {change.to, 0};
    VlPtp4lAnswer answer;
    uint8_t applied = 0;
    if (client.set(domain, change.id, datum, &answer) != VlPtp4lResult::ok ||
        !vl_ptp_decode_datum(answer.data, &applied) || applied != change.to)
      return VlPtp4lApply::refused;
    if (change.id == vl_ptp_mid_domain) domain = change.to;
  }
  return VlPtp4lApply::applied;
}
