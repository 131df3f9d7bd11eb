// The table of every JSON key the system exchanges, with the JSON type its
// value must have, and whole JSON files with an MD5 check line.
#pragma once

#include <jansson.h>

#include <cstdint>

struct vl_json_key_entry {
  uint32_t type;  // jansson's type number (JSON_OBJECT ... JSON_NULL)
  const char* name;
};

// Index of each key in vl_json_keys: VL_KEY_ and the key in upper case,
// without a leading "vl_".
enum vl_json_key_index : int {
  VL_KEY_CLT_CONFIG_FILE = 0,
  VL_KEY_CLT_CONFIG,
  VL_KEY_VERSION,
  VL_KEY_VERSION_MAJOR,
  VL_KEY_VERSION_MINOR,
  VL_KEY_VERSION_BUILD,
  VL_KEY_DEVICE_ID,
  VL_KEY_SERIAL_NUMBER,
  VL_KEY_VENDOR_ID,
  VL_KEY_DEVICE,
  VL_KEY_DEVICE_TYPE,
  VL_KEY_DEVICE_VARIANT,
  VL_KEY_PTP_CONFIGURATION,
  VL_KEY_PTP_STATUS,
  VL_KEY_PTP_DOMAIN,
  VL_KEY_PTP_PORT_STATE,
  VL_KEY_PTP_SLAVE_ONLY,
  VL_KEY_PTP_IS_SYNCRONIZED,
  VL_KEY_PTP_MASTER_IP,
  VL_KEY_PTP_DELAY_MECHANISM,
  VL_KEY_PTP_GM_ID,
  VL_KEY_PTP_GM_CLOCK_CLASS,
  VL_KEY_PTP_GM_CLOCK_ACCURACY,
  VL_KEY_PTP_OFFSET_NSEC,
  VL_KEY_PTP_OFFSET_SIGN,
  VL_KEY_PTP_PRIO_1,
  VL_KEY_PTP_PRIO_2,
  VL_KEY_PTP_LOG_ANNOUNCE,
  VL_KEY_PTP_LOG_SYNC,
  VL_KEY_PTP_DSCP,
  VL_KEY_AUDIO_DEVICE,
  VL_KEY_AUDIO_DEVICE_LIST,
  VL_KEY_AUDIO_DEVICE_NAME,
  VL_KEY_AUDIO_PROPERTIES,
  VL_KEY_AUDIO_CONFIG,
  VL_KEY_AUDIO_CAPTID,
  VL_KEY_AUDIO_PLAYID,
  VL_KEY_AUDIO_ENCODER_LIST,
  VL_KEY_SESSION,
  VL_KEY_SESSION_LIST,
  VL_KEY_SESSION_ADDR,
  VL_KEY_SESSION_PORT,
  VL_KEY_SESSION_ID,
  VL_KEY_SESSION_SENDER,
  VL_KEY_SESSION_RECEIVER,
  VL_KEY_SESSION_INFO_LIST,
  VL_KEY_SESSION_SENDER_INFO,
  VL_KEY_SESSION_RECEIVER_INFO,
  VL_KEY_STREAM,
  VL_KEY_STREAM_TYPE,
  VL_KEY_STREAM_SDP_ID,
  VL_KEY_STREAM_ADDRESS,
  VL_KEY_STREAM_PORT,
  VL_KEY_STREAM_CLKDOMAIN,
  VL_KEY_STREAM_PAYLOAD,
  VL_KEY_STREAM_DSCP,
  VL_KEY_STREAM_ENCODING,
  VL_KEY_STREAM_SYNCTIME,
  VL_KEY_STREAM_CLOCKDEV_NUM,
  VL_KEY_STREAM_CLOCKDEV_DEN,
  VL_KEY_STREAM_CHANNELMAP,
  VL_KEY_STREAM_END2ENDDELAY,
  VL_KEY_STREAM_PACKETDURATION,
  VL_KEY_STREAM_SEQNO,
  VL_KEY_STREAM_SDP,
  VL_KEY_RTCP_SEQNO,
  VL_KEY_RTCP_SSRC,
  VL_KEY_RTCP_CNAME,
  VL_KEY_RTCP_SENDER_INFO,
  VL_KEY_RTCP_RECEIVER_INFO,
  VL_KEY_RTCP_NTP_SEC,
  VL_KEY_RTCP_NTP_FRAC,
  VL_KEY_RTCP_RTP_TS,
  VL_KEY_RTCP_PSEND,
  VL_KEY_RTCP_OSEND,
  VL_KEY_RTCP_LOST,
  VL_KEY_RTCP_LAST_SEQ,
  VL_KEY_RTCP_JITTER,
  VL_KEY_RTCP_LSR,
  VL_KEY_RTCP_DLSR,
  VL_KEY_LOG_CATEGORY_LIST,
  VL_KEY_LOG_CATEGORY,
  VL_KEY_LOG_PRIORITY,
  VL_KEY_NETWORK_INTERFACE,
  VL_KEY_NETWORK_INTERFACE_NAME,
  VL_KEY_NETWORK_INTERFACE_MAC,
  VL_KEY_NETWORK_INTERFACE_ADDR,
  VL_KEY_NETWORK_INTERFACE_MASK,
  VL_KEY_NETWORK_INTERFACE_TYPE,
  VL_KEY_EVENT_ID,
  VL_KEY_EVENT_ORIGINATOR,
  VL_KEY_EVENT_EXCLUSIVE,
  VL_KEY_EVENT_DATA,
  VL_KEY_STREAM_SAP,
  VL_KEY_SAP_LIST,
  // The receiver that sent a report: without it a sender cannot tell its
  // receivers' reports apart by SSRC.
  VL_KEY_RTCP_REPORTER_SSRC,
  // Returned for keys that are unknown or carry the wrong type.
  VL_KEY_UNKNOWN,
  VL_KEY_COUNT
};

static_assert(VL_KEY_UNKNOWN == 96 && VL_KEY_COUNT == 97, "the key table has 97 entries");

extern const vl_json_key_entry vl_json_keys[VL_KEY_COUNT];

// "JSON object" ... "JSON null" for jansson's type numbers 0 to 7,
// "JSON type unknown" for anything else.
const char* vl_json_type_name(int type);

// True when `json` is an object holding each of the `count` key indices
// (plain ints following `count`) with the table's type. Logs every missing
// or mistyped key, then one summary line naming `caller_name`.
bool vl_json_check(const json_t* json, const char* caller_name, int count, ...);

// The table index of `key` when `value` has the table's type, otherwise
// VL_KEY_UNKNOWN (logged, naming `caller_name`).
int vl_json_key(const char* caller_name, const char* key, const json_t* value);

// Writes the configuration file `name`: the JSON text (indent 2, keys in
// insertion order), a newline, the MD5 of that text in lowercase hex and a
// newline. 0 or -1.
int vl_json_save_file(const json_t* json, const char* name);

// The first JSON value of the configuration file `name` (or of its backup
// when the file cannot be opened); the check line is not verified. New
// reference, or null.
json_t* vl_json_load_file(const char* name);
