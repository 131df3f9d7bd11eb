#include "vl/vl_sender_info.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"

#include <new>

namespace {

constexpr std::size_t encoded_members = 5;
constexpr uint64_t ns_per_second = 1000000000;
constexpr uint64_t ntp_unix_epoch_offset = 2208988800;  // seconds from 1900 to 1970

uint32_t low_32_bits(const json_t* value) { return static_cast<uint32_t>(json_integer_value(value)); }

bool put_word(json_t* object, vl_json_key_index key, uint32_t word) {
  return json_object_set_new(object, vl_json_keys[key].name, json_integer(word)) == 0;
}

}  // namespace

VlSenderInfo* vl_sender_info_copy(const VlSenderInfo* info) {
  return info ? new (std::nothrow) VlSenderInfo(*info) : nullptr;
}

void vl_sender_info_dtor(VlSenderInfo* info) { delete info; }

json_t* vl_sender_info_encode(const VlSenderInfo* info) {
  if (!info) return nullptr;
  VlJsonRef object(json_object());
  if (!object) return nullptr;
  const bool complete = put_word(object.get(), VL_KEY_RTCP_NTP_SEC, info->ntp_sec) &&
                        put_word(object.get(), VL_KEY_RTCP_NTP_FRAC, info->ntp_frac) &&
                        put_word(object.get(), VL_KEY_RTCP_RTP_TS, info->rtp_ts) &&
                        put_word(object.get(), VL_KEY_RTCP_PSEND, info->psend) &&
                        put_word(object.get(), VL_KEY_RTCP_OSEND, info->osend);
  return complete ? object.release() : nullptr;
}

VlSenderInfo* vl_sender_info_decode(const json_t* json) {
  const std::size_t members = json_object_size(json);
  if (members != encoded_members) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid size for VlSenderInfo json object! Should be %u, but is %u!",
           static_cast<unsigned>(encoded_members), static_cast<unsigned>(members));
    return nullptr;
  }
  auto* info = new (std::nothrow) VlSenderInfo{};
  if (!info) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for VlSenderInfo!");
    return nullptr;
  }
  const char* key;
  json_t* value;
  // jansson's iteration takes a mutable object but does not change it.
  json_object_foreach(const_cast<json_t*>(json), key, value) {
    switch (vl_json_key("VlSenderInfo", key, value)) {
      case VL_KEY_RTCP_NTP_SEC: info->ntp_sec = low_32_bits(value); break;
      case VL_KEY_RTCP_NTP_FRAC: info->ntp_frac = low_32_bits(value); break;
      case VL_KEY_RTCP_RTP_TS: info->rtp_ts = low_32_bits(value); break;
      case VL_KEY_RTCP_PSEND: info->psend = low_32_bits(value); break;
      case VL_KEY_RTCP_OSEND: info->osend = low_32_bits(value); break;
      default: break;
    }
  }
  return info;
}

void vl_sender_info_update(VlSenderInfo* info, uint32_t ssrc, const uint32_t report[vl_sender_report_words]) {
  if (!info || !report) return;
  const uint32_t packets = report[3];
  if (packets == 0)
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Got sender report that claims to send no RTP packets: %u!", ssrc);
  if (packets == info->psend)
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Sender did not send out any RTP packets since last RTCP report: %u!",
           ssrc);
  info->ssrc = ssrc;
  info->ntp_sec = report[0];
  info->ntp_frac = report[1];
  info->rtp_ts = report[2];
  info->psend = report[3];
  info->osend = report[4];
}

uint64_t vl_tai_to_ntp(uint64_t ns) {
  const auto seconds = static_cast<uint32_t>(ns / ns_per_second + ntp_unix_epoch_offset);
  const uint64_t fraction = ((ns % ns_per_second) << 32) / ns_per_second;
  return (fraction << 32) | seconds;
}
