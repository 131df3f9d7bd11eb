// How ptp4l's data sets become the PTP status and properties records.
#include "linuxptp/ptp4l_query.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr int64_t scaled(int64_t ns) { return ns * 65536; }

VlPtp4lSnapshot snapshot(uint8_t port_state, int64_t offset_scaled) {
  VlPtp4lSnapshot s;
  s.default_ds.domain = 5;
  s.default_ds.slave_only = true;
  s.default_ds.priority1 = 200;
  s.default_ds.priority2 = 201;
  s.port.port_state = port_state;
  s.port.delay_mechanism = 2;
  s.port.log_announce_interval = -2;
  s.port.log_sync_interval = -3;
  s.current.offset_from_master = offset_scaled;
  const uint8_t gm[8] = {0x00, 0x1D, 0xC1, 0xFF, 0xFE, 0x12, 0x34, 0xAB};
  std::memcpy(s.parent.gm_identity, gm, sizeof gm);
  s.parent.gm_quality = {6, 0x21, 0x4E5D};
  s.parent.gm_priority1 = 100;
  s.parent.gm_priority2 = 101;
  std::strcpy(s.master_ip, "198.18.0.1");
  return s;
}

TEST(Ptp4lStatus, FieldsOfTheDataSets) {
  const VlPtpStatus s = vl_ptp4l_status(snapshot(9, scaled(-250)), 1000);
  EXPECT_EQ(s.domain, 5);
  EXPECT_EQ(s.port_state, 9u);
  EXPECT_EQ(s.flags, vl_ptp_flag_slave_only | vl_ptp_flag_synchronized);
  EXPECT_STREQ(s.master_ip, "198.18.0.1");
  EXPECT_STREQ(s.gm_id, "00-1D-C1-FF-FE-12-34-AB");
  EXPECT_EQ(s.delay_mechanism, 2u);
  EXPECT_EQ(s.gm_clock_class, 6);
  EXPECT_EQ(s.gm_clock_accuracy, 0x21);
  EXPECT_EQ(s.offset_nsec, 250u);
  EXPECT_NE(s.offset_sign, 0);
  EXPECT_EQ(s.prio_1, 100);
  EXPECT_EQ(s.prio_2, 101);
  EXPECT_EQ(s.log_announce, -2);
  EXPECT_EQ(s.log_sync, -3);
  EXPECT_EQ(s.dscp, 0);
}

TEST(Ptp4lStatus, SynchronisedOnlyAsSlaveWithinTheOffset) {
  struct Case {
    const char* name;
    uint8_t port_state;
    int64_t offset;
    bool synchronized;
    uint64_t magnitude;
    bool negative;
  };
  const Case cases[] = {
      {"slave, small offset", 9, scaled(999), true, 999, false},
      {"slave, offset at the limit", 9, scaled(-1000), true, 1000, true},
      {"slave, offset beyond", 9, scaled(1001), false, 1001, false},
      {"uncalibrated", 8, scaled(10), false, 10, false},
      {"master", 6, 0, false, 0, false},
      {"below a nanosecond, negative", 9, -100, true, 0, false},
      {"most negative", 9, INT64_MIN, false, 1ULL << 47, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const VlPtpStatus s = vl_ptp4l_status(snapshot(c.port_state, c.offset), 1000);
    EXPECT_EQ(vl_ptp_status_is_synchronized(s), c.synchronized);
    EXPECT_EQ(s.offset_nsec, c.magnitude);
    EXPECT_EQ(s.offset_sign != 0, c.negative);
  }
}

TEST(Ptp4lProperties, TheLocalClockAndPort) {
  const VlPtpProperties p = vl_ptp4l_properties(snapshot(9, 0));
  EXPECT_EQ(p.domain, 5);
  EXPECT_EQ(p.prio_1, 200);
  EXPECT_EQ(p.prio_2, 201);
  EXPECT_EQ(p.log_announce, -2);
  EXPECT_EQ(p.log_sync, -3);
  EXPECT_EQ(p.flags, vl_ptp_flag_slave_only);
  EXPECT_EQ(p.delay_mechanism, 2u);
}

TEST(Ptp4lTaiOffset, AsPhc2sysAppliesIt) {
  struct Case {
    int16_t utc_offset;
    uint8_t flags;
    uint32_t expected;
  };
  const Case cases[] = {
      {37, vl_ptp_tp_ptp_timescale | vl_ptp_tp_utc_offset_valid, 37},
      {37, vl_ptp_tp_ptp_timescale, 37},  // not marked valid: phc2sys uses it all the same
      {37, vl_ptp_tp_utc_offset_valid, 0},  // arbitrary time scale
      {-5, vl_ptp_tp_ptp_timescale, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utc_offset);
    EXPECT_EQ(vl_ptp4l_tai_offset(VlPtpTimeProperties{c.utc_offset, c.flags, 0xA0}), c.expected);
  }
}

}  // namespace
