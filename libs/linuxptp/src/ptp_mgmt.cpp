#include "linuxptp/ptp_mgmt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t message_type_management = 0x0D;
constexpr uint8_t ptp_major_version = 2;
constexpr uint8_t control_management = 4;
constexpr uint8_t log_interval_none = 0x7F;

constexpr std::size_t length_offset = 2;
constexpr std::size_t domain_offset = 4;
constexpr std::size_t source_offset = 20;
constexpr std::size_t sequence_offset = 30;
constexpr std::size_t control_offset = 32;
constexpr std::size_t target_offset = 34;
constexpr std::size_t action_offset = 46;
constexpr std::size_t tlv_offset = 48;
constexpr std::size_t tlv_header_size = 4;
constexpr std::size_t error_fields_size = 8;  // error id, management id, reserved

constexpr std::size_t default_ds_size = 20;
constexpr std::size_t current_ds_size = 18;
constexpr std::size_t parent_ds_size = 32;
constexpr std::size_t time_properties_size = 4;
constexpr std::size_t port_ds_size = 26;
constexpr std::size_t datum_size = 2;
constexpr std::size_t unicast_entry_size = 22;  // before the address bytes
constexpr uint16_t protocol_udp_ipv4 = 1;

// Big-endian reading, bounded by the span.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint8_t u8(std::size_t at) const { return bytes_[at]; }
  int8_t i8(std::size_t at) const { return static_cast<int8_t>(bytes_[at]); }
  uint16_t u16(std::size_t at) const { return static_cast<uint16_t>((bytes_[at] << 8) | bytes_[at + 1]); }
  uint32_t u32(std::size_t at) const { return (uint32_t{u16(at)} << 16) | u16(at + 2); }
  uint64_t u64(std::size_t at) const { return (uint64_t{u32(at)} << 32) | u32(at + 4); }
  int64_t i64(std::size_t at) const { return static_cast<int64_t>(u64(at)); }
  void copy(std::size_t at, uint8_t* out, std::size_t n) const { std::memcpy(out, bytes_.subspan(at, n).data(), n); }
  VlPtpPortIdentity port_identity(std::size_t at) const {
    VlPtpPortIdentity id{};
    copy(at, id.clock, sizeof id.clock);
    id.port = u16(at + sizeof id.clock);
    return id;
  }
  VlPtpClockQuality quality(std::size_t at) const { return {u8(at), u8(at + 1), u16(at + 2)}; }

 private:
  std::span<const uint8_t> bytes_;
};

void put16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}

void put_port_identity(uint8_t* p, const VlPtpPortIdentity& id) {
  std::memcpy(p, id.clock, sizeof id.clock);
  put16(p + sizeof id.clock, id.port);
}

std::size_t tlv_value_size(const VlPtpMgmtMessage& m) {
  return (m.tlv_type == vl_ptp_tlv_error_status ? error_fields_size : 2) + m.data.size();
}

// Boundary hops stay 0: ptp4l would otherwise forward the message to the
// network.
void write_header(const VlPtpMgmtMessage& m, uint16_t length, uint8_t* p) {
  std::memset(p, 0, tlv_offset);
  p[0] = message_type_management;
  p[1] = ptp_major_version;
  put16(p + length_offset, length);
  p[domain_offset] = m.domain;
  put_port_identity(p + source_offset, m.source);
  put16(p + sequence_offset, m.sequence);
  p[control_offset] = control_management;
  p[control_offset + 1] = log_interval_none;
  put_port_identity(p + target_offset, m.target);
  p[action_offset] = m.action & 0x0F;
}

void write_tlv(const VlPtpMgmtMessage& m, uint16_t value_size, uint8_t* p) {
  put16(p, m.tlv_type);
  put16(p + 2, value_size);
  p += tlv_header_size;
  if (m.tlv_type == vl_ptp_tlv_error_status) {
    put16(p, m.error);
    put16(p + 2, m.id);
    std::memset(p + 4, 0, 4);
    p += error_fields_size;
  } else {
    put16(p, m.id);
    p += 2;
  }
  if (!m.data.empty()) std::memcpy(p, m.data.data(), m.data.size());
}

}  // namespace

int vl_ptp_mgmt_write(const VlPtpMgmtMessage& message, std::span<uint8_t> out) {
  const std::size_t value_size = tlv_value_size(message);
  const std::size_t size = tlv_offset + tlv_header_size + value_size;
  if (size > UINT16_MAX) {
    errno = EINVAL;
    return -1;
  }
  if (size > out.size()) {
    errno = ENOBUFS;
    return -1;
  }
  write_header(message, static_cast<uint16_t>(size), out.data());
  write_tlv(message, static_cast<uint16_t>(value_size), out.data() + tlv_offset);
  return static_cast<int>(size);
}

VlPtpMgmtParse vl_ptp_mgmt_parse(std::span<const uint8_t> datagram, VlPtpMgmtMessage* out) {
  if (datagram.size() < vl_ptp_mgmt_min_size) return VlPtpMgmtParse::too_short;
  const Reader r(datagram);
  if ((r.u8(0) & 0x0F) != message_type_management || (r.u8(1) & 0x0F) != ptp_major_version)
    return VlPtpMgmtParse::not_management;
  const std::size_t length = r.u16(length_offset);
  if (length < vl_ptp_mgmt_min_size) return VlPtpMgmtParse::bad_length;
  if (length > datagram.size()) return VlPtpMgmtParse::too_short;
  const uint16_t tlv_type = r.u16(tlv_offset);
  const std::size_t value_size = r.u16(tlv_offset + 2);
  const std::size_t value_at = tlv_offset + tlv_header_size;
  if (value_at + value_size > length) return VlPtpMgmtParse::bad_length;
  if (tlv_type != vl_ptp_tlv_management && tlv_type != vl_ptp_tlv_error_status) return VlPtpMgmtParse::unknown_tlv;
  const bool error = tlv_type == vl_ptp_tlv_error_status;
  const std::size_t fields = error ? error_fields_size : 2;
  if (value_size < fields) return VlPtpMgmtParse::bad_length;

  VlPtpMgmtMessage m;
  m.domain = r.u8(domain_offset);
  m.sequence = r.u16(sequence_offset);
  m.source = r.port_identity(source_offset);
  m.target = r.port_identity(target_offset);
  m.action = r.u8(action_offset) & 0x0F;
  m.tlv_type = tlv_type;
  m.error = error ? r.u16(value_at) : 0;
  m.id = r.u16(error ? value_at + 2 : value_at);
  m.data = datagram.subspan(value_at + fields, value_size - fields);
  *out = m;
  return VlPtpMgmtParse::ok;
}

const char* vl_ptp_mgmt_parse_text(VlPtpMgmtParse result) {
  switch (result) {
    case VlPtpMgmtParse::ok:
      return "ok";
    case VlPtpMgmtParse::too_short:
      return "message too short";
    case VlPtpMgmtParse::bad_length:
      return "wrong length";
    case VlPtpMgmtParse::not_management:
      return "not a PTPv2 management message";
    case VlPtpMgmtParse::unknown_tlv:
      return "unknown TLV";
  }
  return "unknown";
}

bool vl_ptp_decode_default_ds(std::span<const uint8_t> data, VlPtpDefaultDs* out) {
  if (data.size() != default_ds_size) return false;
  const Reader r(data);
  out->two_step = (r.u8(0) & 0x01) != 0;
  out->slave_only = (r.u8(0) & 0x02) != 0;
  out->number_ports = r.u16(2);
  out->priority1 = r.u8(4);
  out->quality = r.quality(5);
  out->priority2 = r.u8(9);
  r.copy(10, out->clock_identity, sizeof out->clock_identity);
  out->domain = r.u8(18);
  return true;
}

bool vl_ptp_decode_current_ds(std::span<const uint8_t> data, VlPtpCurrentDs* out) {
  if (data.size() != current_ds_size) return false;
  const Reader r(data);
  out->steps_removed = r.u16(0);
  out->offset_from_master = r.i64(2);
  out->mean_path_delay = r.i64(10);
  return true;
}

bool vl_ptp_decode_parent_ds(std::span<const uint8_t> data, VlPtpParentDs* out) {
  if (data.size() != parent_ds_size) return false;
  const Reader r(data);
  out->parent_port = r.port_identity(0);
  out->parent_stats = r.u8(10) != 0;
  out->observed_variance = r.u16(12);
  out->observed_change_rate = static_cast<int32_t>(r.u32(14));
  out->gm_priority1 = r.u8(18);
  out->gm_quality = r.quality(19);
  out->gm_priority2 = r.u8(23);
  r.copy(24, out->gm_identity, sizeof out->gm_identity);
  return true;
}

bool vl_ptp_decode_time_properties(std::span<const uint8_t> data, VlPtpTimeProperties* out) {
  if (data.size() != time_properties_size) return false;
  const Reader r(data);
  out->current_utc_offset = static_cast<int16_t>(r.u16(0));
  out->flags = r.u8(2);
  out->time_source = r.u8(3);
  return true;
}

bool vl_ptp_decode_port_ds(std::span<const uint8_t> data, VlPtpPortDs* out) {
  if (data.size() != port_ds_size) return false;
  const Reader r(data);
  out->identity = r.port_identity(0);
  out->port_state = r.u8(10);
  out->log_min_delay_req_interval = r.i8(11);
  out->peer_mean_path_delay = r.i64(12);
  out->log_announce_interval = r.i8(20);
  out->announce_receipt_timeout = r.u8(21);
  out->log_sync_interval = r.i8(22);
  out->delay_mechanism = r.u8(23);
  out->log_min_pdelay_req_interval = r.i8(24);
  out->version_number = r.u8(25);
  return true;
}

bool vl_ptp_decode_datum(std::span<const uint8_t> data, uint8_t* out) {
  if (data.size() != datum_size) return false;
  *out = data[0];
  return true;
}

bool vl_ptp_decode_selected_master(std::span<const uint8_t> data, bool* found, uint32_t* ipv4) {
  *found = false;
  if (data.size() < 2) return false;
  const Reader r(data);
  const unsigned entries = r.u16(0);
  bool selected_ipv4 = false;
  std::size_t at = 2;
  for (unsigned i = 0; i < entries; ++i) {
    if (at + unicast_entry_size > data.size()) return false;
    const std::size_t address_length = r.u16(at + 20);
    if (at + unicast_entry_size + address_length > data.size()) return false;
    const bool selected = r.u8(at + 14) != 0;
    if (selected && r.u16(at + 18) == protocol_udp_ipv4 && address_length == 4) {
      std::memcpy(ipv4, data.subspan(at + unicast_entry_size, 4).data(), 4);
      selected_ipv4 = true;
    }
    at += unicast_entry_size + address_length;
  }
  *found = selected_ipv4;
  return true;
}

void vl_ptp_clock_identity_text(const uint8_t identity[8], char (&text)[vl_ptp_clock_identity_text_size]) {
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", identity[0], identity[1], identity[2],
                identity[3], identity[4], identity[5], identity[6], identity[7]);
}
