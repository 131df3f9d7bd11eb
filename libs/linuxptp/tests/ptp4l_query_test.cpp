// How ptp4l's data sets become the PTP status and properties records.
#include "linuxptp/ptp4l_query.h"

#include <gtest/gtest.h>


namespace {

constexpr int64_t scaled(int64_t ns) { return ns * 65536; }

VlPtp4lSnapshot snapshot(uint8_t port_state, int64_t offset_scaled) {
  VlPtp4lSnapshot s;
  s.port.port_state = port_state;
  s.current.offset_from_master = offset_scaled;
  return s;
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
