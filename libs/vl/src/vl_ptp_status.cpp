#include "vl/vl_ptp_status.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"

#include <cstdio>
#include <new>

namespace {

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

void put_int(json_t* json, vl_json_key_index index, json_int_t value) {
  json_object_set_new(json, key(index), json_integer(value));
}

void put_text(json_t* json, vl_json_key_index index, const char* text, size_t width) {
  char terminated[64];
  std::snprintf(terminated, sizeof terminated, "%.*s", static_cast<int>(width), text);
  json_object_set_new(json, key(index), json_string(terminated));
}

json_int_t get_int(const json_t* json, vl_json_key_index index) {
  return json_integer_value(json_object_get(json, key(index)));
}

// Copies at most width - 1 characters so that the field stays terminated.
void get_text(const json_t* json, vl_json_key_index index, char* field, size_t width) {
  const char* text = json_string_value(json_object_get(json, key(index)));
  if (text) std::snprintf(field, width, "%s", text);
}

json_t* new_record_object() {
  json_t* json = json_object();
  if (!json) VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not create json object for ptp status!");
  return json;
}

}  // namespace

json_t* vl_ptp_status_encode(const VlPtpStatus* s) {
  json_t* json = s ? new_record_object() : nullptr;
  if (!json) return nullptr;
  put_int(json, VL_KEY_PTP_DOMAIN, s->domain);
  put_int(json, VL_KEY_PTP_PORT_STATE, s->port_state);
  put_int(json, VL_KEY_PTP_SLAVE_ONLY, (s->flags & vl_ptp_flag_slave_only) ? 1 : 0);
  put_int(json, VL_KEY_PTP_IS_SYNCRONIZED, (s->flags & vl_ptp_flag_synchronized) ? 1 : 0);
  put_text(json, VL_KEY_PTP_MASTER_IP, s->master_ip, sizeof s->master_ip);
  put_int(json, VL_KEY_PTP_DELAY_MECHANISM, s->delay_mechanism);
  put_text(json, VL_KEY_PTP_GM_ID, s->gm_id, sizeof s->gm_id);
  put_int(json, VL_KEY_PTP_GM_CLOCK_CLASS, s->gm_clock_class);
  put_int(json, VL_KEY_PTP_GM_CLOCK_ACCURACY, s->gm_clock_accuracy);
  put_int(json, VL_KEY_PTP_OFFSET_NSEC, static_cast<json_int_t>(s->offset_nsec));
  put_int(json, VL_KEY_PTP_OFFSET_SIGN, s->offset_sign);
  put_int(json, VL_KEY_PTP_PRIO_1, s->prio_1);
  put_int(json, VL_KEY_PTP_PRIO_2, s->prio_2);
  put_int(json, VL_KEY_PTP_LOG_ANNOUNCE, s->log_announce);
  put_int(json, VL_KEY_PTP_LOG_SYNC, s->log_sync);
  put_int(json, VL_KEY_PTP_DSCP, s->dscp);
  return json;
}

json_t* vl_ptp_properties_encode(const VlPtpProperties* p) {
  json_t* json = p ? new_record_object() : nullptr;
  if (!json) return nullptr;
  put_int(json, VL_KEY_PTP_DOMAIN, p->domain);
  put_int(json, VL_KEY_PTP_PRIO_1, p->prio_1);
  put_int(json, VL_KEY_PTP_PRIO_2, p->prio_2);
  put_int(json, VL_KEY_PTP_LOG_ANNOUNCE, p->log_announce);
  put_int(json, VL_KEY_PTP_LOG_SYNC, p->log_sync);
  put_int(json, VL_KEY_PTP_SLAVE_ONLY, (p->flags & vl_ptp_flag_slave_only) ? 1 : 0);
  put_int(json, VL_KEY_PTP_DELAY_MECHANISM, p->delay_mechanism);
  put_int(json, VL_KEY_PTP_DSCP, p->dscp);
  return json;
}

VlPtpStatus* vl_ptp_status_decode(const json_t* json) {
  auto* s = new (std::nothrow) VlPtpStatus{};
  if (!s) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for PtpStatus!");
    return nullptr;
  }
  s->domain = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_DOMAIN));
  s->port_state = static_cast<uint32_t>(get_int(json, VL_KEY_PTP_PORT_STATE));
  s->flags = static_cast<uint8_t>((get_int(json, VL_KEY_PTP_SLAVE_ONLY) ? vl_ptp_flag_slave_only : 0) |
                                  (get_int(json, VL_KEY_PTP_IS_SYNCRONIZED) ? vl_ptp_flag_synchronized : 0));
  get_text(json, VL_KEY_PTP_MASTER_IP, s->master_ip, sizeof s->master_ip);
  s->delay_mechanism = static_cast<uint32_t>(get_int(json, VL_KEY_PTP_DELAY_MECHANISM));
  get_text(json, VL_KEY_PTP_GM_ID, s->gm_id, sizeof s->gm_id);
  s->gm_clock_class = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_GM_CLOCK_CLASS));
  s->gm_clock_accuracy = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_GM_CLOCK_ACCURACY));
  s->offset_nsec = static_cast<uint64_t>(get_int(json, VL_KEY_PTP_OFFSET_NSEC));
  s->offset_sign = static_cast<int8_t>(get_int(json, VL_KEY_PTP_OFFSET_SIGN));
  s->prio_1 = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_PRIO_1));
  s->prio_2 = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_PRIO_2));
  s->log_announce = static_cast<int8_t>(get_int(json, VL_KEY_PTP_LOG_ANNOUNCE));
  s->log_sync = static_cast<int8_t>(get_int(json, VL_KEY_PTP_LOG_SYNC));
  s->dscp = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_DSCP));
  return s;
}

VlPtpProperties* vl_ptp_properties_decode(const json_t* json) {
  auto* p = new (std::nothrow) VlPtpProperties{};
  if (!p) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for PtpProperties!");
    return nullptr;
  }
  p->domain = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_DOMAIN));
  p->prio_1 = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_PRIO_1));
  p->prio_2 = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_PRIO_2));
  p->log_announce = static_cast<int8_t>(get_int(json, VL_KEY_PTP_LOG_ANNOUNCE));
  p->log_sync = static_cast<int8_t>(get_int(json, VL_KEY_PTP_LOG_SYNC));
  p->flags = get_int(json, VL_KEY_PTP_SLAVE_ONLY) ? vl_ptp_flag_slave_only : 0;
  p->delay_mechanism = static_cast<uint32_t>(get_int(json, VL_KEY_PTP_DELAY_MECHANISM));
  p->dscp = static_cast<uint8_t>(get_int(json, VL_KEY_PTP_DSCP));
  return p;
}
