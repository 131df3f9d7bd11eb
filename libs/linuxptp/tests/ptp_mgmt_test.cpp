// The management message writer and parser against messages ptp4l 3.1.1
// exchanged with pmc-style requests.
#include "linuxptp/ptp_mgmt.h"

#include "ptp4l_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>

namespace {

using ptp4ltest::Bytes;
using ptp4ltest::hex;

// Answers of a ptp4l (clock 02766c.fffe.000002) to requests with sequence
// 0x1234 from port 123456.fffe.000001-7, as captured.
const Bytes port_ds_answer = hex(
    "0d0200500000000000000000000000000000000002766cfffe00000200011234047f123456fffe00000100070000020000010"
    "01c200402766cfffe0000020001060000000000000000000103fd010002");
const Bytes current_ds_answer = hex(
    "0d0200480000000000000000000000000000000002766cfffe00000200001234047f123456fffe00000100070000020000010"
    "0142001000000000000000000000000000000000000");
const Bytes parent_ds_answer = hex(
    "0d0200560000000000000000000000000000000002766cfffe00000200001234047f123456fffe00000100070000020000010"
    "022200202766cfffe00000200000000ffff7fffffff5af8feffff8002766cfffe000002");
const Bytes default_ds_answer = hex(
    "0d02004a0000000000000000000000000000000002766cfffe00000200001234047f123456fffe00000100070000020000010"
    "0162000010000015af8feffff8002766cfffe0000020000");
const Bytes time_properties_answer = hex(
    "0d02003a0000000000000000000000000000000002766cfffe00000200001234047f123456fffe00000100070000020000010"
    "0062003002500a0");
// SET DOMAIN: not supported.
const Bytes error_answer = hex(
    "0d02003c0000000000000000000000000000000002766cfffe00000200001234047f123456fffe00000100070000020000020"
    "0080006200700000000");
// GET DEFAULT_DATA_SET of a ptp4l (clock 02766c.fffe.000001) in domain 3,
// from port 000000.0000.000000-7.
const Bytes domain_3_answer = hex(
    "0d02004a0300000000000000000000000000000002766cfffe00000100001234047f00000000000000000007000002000001"
    "001620000100000180f8feffff8002766cfffe0000010300");

const VlPtpPortIdentity requester = {{0x12, 0x34, 0x56, 0xFF, 0xFE, 0x00, 0x00, 0x01}, 7};
const VlPtpPortIdentity zero_requester = {{0, 0, 0, 0, 0, 0, 0, 0}, 7};

VlPtpMgmtMessage parsed(const Bytes& datagram) {
  VlPtpMgmtMessage m;
  EXPECT_EQ(vl_ptp_mgmt_parse(datagram, &m), VlPtpMgmtParse::ok);
  return m;
}

Bytes written(const VlPtpMgmtMessage& m) {
  Bytes out(vl_ptp_mgmt_max_size);
  const int size = vl_ptp_mgmt_write(m, out);
  out.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
  return out;
}

TEST(PtpMgmtWrite, RequestsPtp4lAnswered) {
  VlPtpMgmtMessage get;
  get.domain = 3;
  get.sequence = 0x1234;
  get.source = requester;
  get.id = vl_ptp_mid_default_data_set;
  EXPECT_EQ(written(get), hex("0d02 0036 03 00 0000 0000000000000000 00000000 123456fffe000001 0007 1234 04 7f"
                              "ffffffffffffffffffff 00 00 00 00 0001 0002 2000"));
  VlPtpMgmtMessage set = get;
  set.domain = 0;
  set.action = vl_ptp_action_set;
  set.id = vl_ptp_mid_priority1;
  const uint8_t priority[2] = {90, 0};
  set.data = priority;
  EXPECT_EQ(written(set), hex("0d02 0038 00 00 0000 0000000000000000 00000000 123456fffe000001 0007 1234 04 7f"
                              "ffffffffffffffffffff 00 00 01 00 0001 0004 2005 5a00"));
}

TEST(PtpMgmtWrite, RefusesShortBuffers) {
  Bytes out(vl_ptp_mgmt_min_size - 1);
  errno = 0;
  EXPECT_EQ(vl_ptp_mgmt_write(VlPtpMgmtMessage{}, out), -1);
  EXPECT_EQ(errno, ENOBUFS);
}

TEST(PtpMgmtParse, AnswersOfPtp4l) {
  struct Case {
    const char* name;
    const Bytes& datagram;
    uint8_t domain;
    uint16_t tlv_type;
    uint16_t id;
    uint16_t error;
    std::size_t data_size;
    uint16_t source_port;
    const VlPtpPortIdentity& target;
  };
  const Case cases[] = {
      {"port data set", port_ds_answer, 0, vl_ptp_tlv_management, vl_ptp_mid_port_data_set, 0, 26, 1, requester},
      {"current data set", current_ds_answer, 0, vl_ptp_tlv_management, vl_ptp_mid_current_data_set, 0, 18, 0, requester},
      {"parent data set", parent_ds_answer, 0, vl_ptp_tlv_management, vl_ptp_mid_parent_data_set, 0, 32, 0, requester},
      {"default data set", default_ds_answer, 0, vl_ptp_tlv_management, vl_ptp_mid_default_data_set, 0, 20, 0, requester},
      {"time properties", time_properties_answer, 0, vl_ptp_tlv_management, vl_ptp_mid_time_properties_data_set, 0,
       4, 0, requester},
      {"error status", error_answer, 0, vl_ptp_tlv_error_status, vl_ptp_mid_domain, vl_ptp_error_not_supported, 0, 0, requester},
      {"domain 3", domain_3_answer, 3, vl_ptp_tlv_management, vl_ptp_mid_default_data_set, 0, 20, 0, zero_requester},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const VlPtpMgmtMessage m = parsed(c.datagram);
    EXPECT_EQ(m.domain, c.domain);
    EXPECT_EQ(m.sequence, 0x1234);
    EXPECT_EQ(m.action, vl_ptp_action_response);
    EXPECT_EQ(m.tlv_type, c.tlv_type);
    EXPECT_EQ(m.id, c.id);
    EXPECT_EQ(m.error, c.error);
    EXPECT_EQ(m.data.size(), c.data_size);
    EXPECT_EQ(m.source.port, c.source_port);
    EXPECT_EQ(m.target.port, c.target.port);
    EXPECT_EQ(std::memcmp(m.target.clock, c.target.clock, 8), 0);
  }
}

TEST(PtpMgmtDecode, DataSetsOfPtp4l) {
  VlPtpPortDs port{};
  ASSERT_TRUE(vl_ptp_decode_port_ds(parsed(port_ds_answer).data, &port));
  EXPECT_EQ(port.port_state, 6);
  EXPECT_EQ(port.log_announce_interval, 1);
  EXPECT_EQ(port.announce_receipt_timeout, 3);
  EXPECT_EQ(port.log_sync_interval, -3);
  EXPECT_EQ(port.delay_mechanism, 1);
  EXPECT_EQ(port.version_number, 2);
  EXPECT_EQ(port.identity.port, 1);

  VlPtpParentDs parent{};
  ASSERT_TRUE(vl_ptp_decode_parent_ds(parsed(parent_ds_answer).data, &parent));
  char gm[vl_ptp_clock_identity_text_size];
  vl_ptp_clock_identity_text(parent.gm_identity, gm);
  EXPECT_STREQ(gm, "02-76-6C-FF-FE-00-00-02");
  EXPECT_EQ(parent.gm_priority1, 90);
  EXPECT_EQ(parent.gm_quality.clock_class, 248);
  EXPECT_EQ(parent.gm_quality.clock_accuracy, 0xFE);
  EXPECT_EQ(parent.gm_priority2, 128);
  EXPECT_EQ(parent.observed_change_rate, 0x7FFFFFFF);

  VlPtpDefaultDs defaults{};
  ASSERT_TRUE(vl_ptp_decode_default_ds(parsed(domain_3_answer).data, &defaults));
  EXPECT_TRUE(defaults.two_step);
  EXPECT_FALSE(defaults.slave_only);
  EXPECT_EQ(defaults.priority1, 128);
  EXPECT_EQ(defaults.priority2, 128);
  EXPECT_EQ(defaults.domain, 3);

  VlPtpTimeProperties time{};
  ASSERT_TRUE(vl_ptp_decode_time_properties(parsed(time_properties_answer).data, &time));
  EXPECT_EQ(time.current_utc_offset, 37);
  EXPECT_EQ(time.flags, 0);
  EXPECT_EQ(time.time_source, 0xA0);

  VlPtpCurrentDs current{};
  ASSERT_TRUE(vl_ptp_decode_current_ds(parsed(current_ds_answer).data, &current));
  EXPECT_EQ(current.offset_from_master, 0);
  // Offset -1.5 us and delay 2 us (ns * 2^16) as ptp4l sends them.
  ASSERT_TRUE(vl_ptp_decode_current_ds(hex("0001 fffffffffa240000 0000000007d00000"), &current));
  EXPECT_EQ(current.offset_from_master, -1500LL * 65536);
  EXPECT_EQ(current.mean_path_delay, 2000LL * 65536);
}

TEST(PtpMgmtParse, RefusesMalformedMessages) {
  Bytes long_length = default_ds_answer;
  long_length[3] += 2;
  Bytes short_length = default_ds_answer;
  short_length[2] = 0;
  short_length[3] = 53;
  Bytes announce = default_ds_answer;
  announce[0] = 0x0B;
  Bytes version_1 = default_ds_answer;
  version_1[1] = 0x01;
  Bytes unknown_tlv = default_ds_answer;
  unknown_tlv[49] = 0x03;
  Bytes tlv_beyond = default_ds_answer;
  tlv_beyond[51] += 2;
  Bytes tlv_without_id = default_ds_answer;
  tlv_without_id[51] = 1;
  Bytes error_without_fields = error_answer;
  error_without_fields[51] = 6;
  struct Case {
    const char* name;
    const Bytes& datagram;
    VlPtpMgmtParse expected;
  };
  const Bytes empty;
  const Bytes garbage(200, 0xA5);
  const Case cases[] = {
      {"empty", empty, VlPtpMgmtParse::too_short},
      {"garbage", garbage, VlPtpMgmtParse::not_management},
      {"length beyond the datagram", long_length, VlPtpMgmtParse::too_short},
      {"length below a management message", short_length, VlPtpMgmtParse::bad_length},
      {"announce message", announce, VlPtpMgmtParse::not_management},
      {"PTP version 1", version_1, VlPtpMgmtParse::not_management},
      {"unknown TLV", unknown_tlv, VlPtpMgmtParse::unknown_tlv},
      {"TLV beyond the message", tlv_beyond, VlPtpMgmtParse::bad_length},
      {"TLV without management id", tlv_without_id, VlPtpMgmtParse::bad_length},
      {"error status without its fields", error_without_fields, VlPtpMgmtParse::bad_length},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VlPtpMgmtMessage m;
    EXPECT_EQ(vl_ptp_mgmt_parse(c.datagram, &m), c.expected);
  }
}

TEST(PtpMgmtParse, EveryTruncationIsRefused) {
  for (std::size_t size = 0; size < default_ds_answer.size(); ++size) {
    SCOPED_TRACE(size);
    const Bytes cut(default_ds_answer.begin(), default_ds_answer.begin() + static_cast<long>(size));
    VlPtpMgmtMessage m;
    EXPECT_NE(vl_ptp_mgmt_parse(cut, &m), VlPtpMgmtParse::ok);
  }
}

// A further TLV (authentication, say) is not the answer's business.
TEST(PtpMgmtParse, ReadsOnlyTheFirstTlv) {
  Bytes datagram = time_properties_answer;
  datagram.insert(datagram.end(), {0x80, 0x09, 0x00, 0x02, 0x00, 0x00});
  datagram[3] = static_cast<uint8_t>(datagram.size());
  const VlPtpMgmtMessage m = parsed(datagram);
  EXPECT_EQ(m.id, vl_ptp_mid_time_properties_data_set);
  EXPECT_EQ(m.data.size(), 4u);
}

TEST(PtpMgmtDecode, DataSetsNeedTheirExactSize) {
  struct Case {
    const char* name;
    std::size_t size;
    bool (*decode)(std::span<const uint8_t>);
  };
  const Case cases[] = {
      {"default", 20, [](std::span<const uint8_t> d) { VlPtpDefaultDs o; return vl_ptp_decode_default_ds(d, &o); }},
      {"current", 18, [](std::span<const uint8_t> d) { VlPtpCurrentDs o; return vl_ptp_decode_current_ds(d, &o); }},
      {"parent", 32, [](std::span<const uint8_t> d) { VlPtpParentDs o; return vl_ptp_decode_parent_ds(d, &o); }},
      {"time", 4, [](std::span<const uint8_t> d) { VlPtpTimeProperties o; return vl_ptp_decode_time_properties(d, &o); }},
      {"port", 26, [](std::span<const uint8_t> d) { VlPtpPortDs o; return vl_ptp_decode_port_ds(d, &o); }},
      {"datum", 2, [](std::span<const uint8_t> d) { uint8_t o; return vl_ptp_decode_datum(d, &o); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(c.decode(Bytes(c.size, 0)));
    EXPECT_FALSE(c.decode(Bytes(c.size - 1, 0)));
    EXPECT_FALSE(c.decode(Bytes(c.size + 1, 0)));
  }
}

TEST(PtpMgmtDecode, SelectedUnicastMaster) {
  const Bytes one = ptp4ltest::unicast_master_table("198.18.0.1");
  Bytes unselected = one;
  unselected[2 + 14] = 0;
  Bytes ipv6 = one;
  ipv6[2 + 19] = 2;
  Bytes count_beyond = one;
  count_beyond[1] = 2;
  Bytes address_beyond = one;
  address_beyond[2 + 21] = 5;
  struct Case {
    const char* name;
    Bytes data;
    bool valid;
    bool found;
  };
  const Case cases[] = {
      {"selected IPv4 entry", one, true, true},
      {"no selected entry", unselected, true, false},
      {"another protocol", ipv6, true, false},
      {"empty table", {0, 0}, true, false},
      {"more entries than data", count_beyond, false, false},
      {"address beyond the data", address_beyond, false, false},
      {"no size", {0}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool found = true;
    uint32_t ip = 0;
    EXPECT_EQ(vl_ptp_decode_selected_master(c.data, &found, &ip), c.valid);
    EXPECT_EQ(found, c.found);
    if (c.found) {
      EXPECT_EQ(ip, inet_addr("198.18.0.1"));
    }
  }
}

}  // namespace
