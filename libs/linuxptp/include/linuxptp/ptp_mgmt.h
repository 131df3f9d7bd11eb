// PTP management messages (IEEE 1588) as ptp4l speaks them on its
// Unix-domain socket: a writer for one message with one TLV, a parser that
// trusts lengths from the wire only as far as the datagram reaches, and
// decoders for the data sets the daemon reads. Stateless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Management ids.
inline constexpr uint16_t vl_ptp_mid_default_data_set = 0x2000;
inline constexpr uint16_t vl_ptp_mid_current_data_set = 0x2001;
inline constexpr uint16_t vl_ptp_mid_parent_data_set = 0x2002;
inline constexpr uint16_t vl_ptp_mid_time_properties_data_set = 0x2003;
inline constexpr uint16_t vl_ptp_mid_port_data_set = 0x2004;
inline constexpr uint16_t vl_ptp_mid_priority1 = 0x2005;
inline constexpr uint16_t vl_ptp_mid_priority2 = 0x2006;
inline constexpr uint16_t vl_ptp_mid_domain = 0x2007;
inline constexpr uint16_t vl_ptp_mid_unicast_master_table_np = 0xC008;

// Actions.
inline constexpr uint8_t vl_ptp_action_get = 0;
inline constexpr uint8_t vl_ptp_action_set = 1;
inline constexpr uint8_t vl_ptp_action_response = 2;

// TLV types a management message carries.
inline constexpr uint16_t vl_ptp_tlv_management = 0x0001;
inline constexpr uint16_t vl_ptp_tlv_error_status = 0x0002;

// Management error ids.
inline constexpr uint16_t vl_ptp_error_no_such_id = 0x0002;
inline constexpr uint16_t vl_ptp_error_not_supported = 0x0006;

// Time properties flags.
inline constexpr uint8_t vl_ptp_tp_leap61 = 0x01;
inline constexpr uint8_t vl_ptp_tp_leap59 = 0x02;
inline constexpr uint8_t vl_ptp_tp_utc_offset_valid = 0x04;
inline constexpr uint8_t vl_ptp_tp_ptp_timescale = 0x08;

// Common header, management fields, TLV type and length, management id.
inline constexpr std::size_t vl_ptp_mgmt_min_size = 54;
// Room for any answer the daemon asks for; a longer one is refused.
inline constexpr std::size_t vl_ptp_mgmt_max_size = 1500;

struct VlPtpPortIdentity {
  uint8_t clock[8];
  uint16_t port;
};

// All ones: every port of the clock.
inline constexpr VlPtpPortIdentity vl_ptp_all_ports = {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF};

// One management message. For an error status TLV `id` is the management
// id the error is about and `data` the display text that may follow.
struct VlPtpMgmtMessage {
  uint8_t domain = 0;
  uint16_t sequence = 0;
  VlPtpPortIdentity source{};
  VlPtpPortIdentity target = vl_ptp_all_ports;
  uint8_t action = vl_ptp_action_get;
  uint16_t tlv_type = vl_ptp_tlv_management;
  uint16_t id = 0;
  uint16_t error = 0;
  std::span<const uint8_t> data;  // borrowed
};

// Writes `message` into `out`. Returns its size, or -1 with errno EINVAL
// (longer than a message can state) or ENOBUFS.
int vl_ptp_mgmt_write(const VlPtpMgmtMessage& message, std::span<uint8_t> out);

enum class VlPtpMgmtParse {
  ok,
  too_short,       // shorter than a management message, or than its length field
  bad_length,      // length field below the minimum, or a TLV beyond it
  not_management,  // another message type or PTP version
  unknown_tlv,     // neither management nor error status
};

// Parses `datagram`; on ok `out->data` points into it.
VlPtpMgmtParse vl_ptp_mgmt_parse(std::span<const uint8_t> datagram, VlPtpMgmtMessage* out);
const char* vl_ptp_mgmt_parse_text(VlPtpMgmtParse result);

struct VlPtpClockQuality {
  uint8_t clock_class;
  uint8_t clock_accuracy;
  uint16_t offset_scaled_log_variance;
};

struct VlPtpDefaultDs {
  bool two_step;
  bool slave_only;
  uint16_t number_ports;
  uint8_t priority1;
  VlPtpClockQuality quality;
  uint8_t priority2;
  uint8_t clock_identity[8];
  uint8_t domain;
};

// Offsets and delays in nanoseconds times 2^16, as on the wire.
struct VlPtpCurrentDs {
  uint16_t steps_removed;
  int64_t offset_from_master;
  int64_t mean_path_delay;
};

struct VlPtpParentDs {
  VlPtpPortIdentity parent_port;
  bool parent_stats;
  uint16_t observed_variance;
  int32_t observed_change_rate;
  uint8_t gm_priority1;
  VlPtpClockQuality gm_quality;
  uint8_t gm_priority2;
  uint8_t gm_identity[8];
};

struct VlPtpTimeProperties {
  int16_t current_utc_offset;
  uint8_t flags;  // vl_ptp_tp_*
  uint8_t time_source;
};

struct VlPtpPortDs {
  VlPtpPortIdentity identity;
  uint8_t port_state;
  int8_t log_min_delay_req_interval;
  int64_t peer_mean_path_delay;
  int8_t log_announce_interval;
  uint8_t announce_receipt_timeout;
  int8_t log_sync_interval;
  uint8_t delay_mechanism;
  int8_t log_min_pdelay_req_interval;
  uint8_t version_number;
};

// Each decoder takes the data of its management TLV and is false unless it
// has exactly the data set's size.
bool vl_ptp_decode_default_ds(std::span<const uint8_t> data, VlPtpDefaultDs* out);
bool vl_ptp_decode_current_ds(std::span<const uint8_t> data, VlPtpCurrentDs* out);
bool vl_ptp_decode_parent_ds(std::span<const uint8_t> data, VlPtpParentDs* out);
bool vl_ptp_decode_time_properties(std::span<const uint8_t> data, VlPtpTimeProperties* out);
bool vl_ptp_decode_port_ds(std::span<const uint8_t> data, VlPtpPortDs* out);
// One-byte values (priorities, domain): the value and a reserved byte.
bool vl_ptp_decode_datum(std::span<const uint8_t> data, uint8_t* out);

// The IPv4 address (network byte order) of the selected entry of ptp4l's
// unicast master table. False when the table is malformed; a table without
// a selected IPv4 entry leaves *found false.
bool vl_ptp_decode_selected_master(std::span<const uint8_t> data, bool* found, uint32_t* ipv4);

// "00-1D-C1-FF-FE-12-34-56": eight upper-case hex pairs and a terminator.
inline constexpr std::size_t vl_ptp_clock_identity_text_size = 24;
void vl_ptp_clock_identity_text(const uint8_t identity[8], char (&text)[vl_ptp_clock_identity_text_size]);
