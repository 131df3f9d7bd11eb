// Two real ptp4l in the lab's hosts over the veth pair. The reference reads
// the slave's status through its management socket.
#include "linuxptp/vl_linuxptp.h"

#include "vl/vl_ptp.h"
#include "vltest/lab_ptp4l.h"
#include "vltest/log_capture.h"
#include "vltest/netlab.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace std::chrono_literals;
using vltest::LabPtp4l;
using vltest::NetLab;

constexpr int domain = LabPtp4l::default_domain;

double offset_pmc_reads(const LabPtp4l& ptp4l) {
  const std::string out = ptp4l.pmc("GET CURRENT_DATA_SET");
  const std::size_t at = out.find("offsetFromMaster");
  return at == std::string::npos ? 0 : std::atof(out.c_str() + at + std::strlen("offsetFromMaster"));
}

class RealPtp4l : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LabPtp4l::available()) << "linuxptp is missing: run scripts/setup.sh";
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    ASSERT_EQ(vl_ptp_init(), 0);
  }
  void TearDown() override {
    vl_linuxptp_exit();
    vl_ptp_exit();
  }

  // Reads the status until `done` holds for it.
  template <typename Predicate>
  bool status_until(Predicate done, VlPtpStatus* s) {
    VlPtpInterface* ifc = vl_ptp_ifc_get(vl_ptp_any_domain);
    return ifc && vltest::wait_until([&] { return ifc->get_ptp_status(s) && done(*s); }, 15s, 50ms);
  }

  vltest::LogCapture log_;
  NetLab lab_;
};

TEST_F(RealPtp4l, TheSlavesStatusFollowsItsMasterAndTheMastersDeparture) {
  LabPtp4l master(lab_, NetLab::A, 100);
  LabPtp4l slave(lab_, NetLab::B, 200);
  ASSERT_TRUE(master.started());
  ASSERT_TRUE(slave.started());
  ASSERT_TRUE(master.announce_ptp_timescale(37));
  ASSERT_TRUE(vl_linuxptp_init(slave.socket().c_str()));
  VlPtpInterface* ifc = vl_ptp_ifc_get(domain);
  ASSERT_NE(ifc, nullptr);

  // Free running, ptp4l keeps its slave uncalibrated.
  ASSERT_TRUE(slave.process().wait_for_output("to UNCALIBRATED", 15s)) << slave.process().output();
  VlPtpStatus s{};
  // The offset comes once ptp4l has measured the path delay.
  ASSERT_TRUE(status_until(
      [&](const VlPtpStatus& st) { return st.port_state == 8 && st.offset_nsec != 0 && ifc->leap_seconds() == 37; },
      &s));
  EXPECT_STREQ(s.gm_id, "02-76-6C-FF-FE-00-00-01");  // from the MAC of the master's veth0
  EXPECT_EQ(s.domain, domain);
  EXPECT_EQ(ifc->domain(), domain);
  EXPECT_EQ(s.prio_1, 100);
  EXPECT_EQ(s.log_sync, -3);
  EXPECT_EQ(s.delay_mechanism, 1u);
  EXPECT_FALSE(vl_ptp_status_is_synchronized(s));
  EXPECT_STREQ(s.master_ip, "");  // this ptp4l keeps no unicast master table
  // A slave on UTC behind a master on the PTP scale: ptp4l's offset holds
  // the TAI offset.
  const double pmc_offset = offset_pmc_reads(slave);
  ASSERT_TRUE(ifc->get_ptp_status(&s));
  EXPECT_EQ(s.offset_sign, 0);
  EXPECT_NEAR(static_cast<double>(s.offset_nsec), pmc_offset, 1e6);
  EXPECT_NEAR(static_cast<double>(s.offset_nsec), 37e9, 1e7);

  master.stop();
  ASSERT_TRUE(status_until(
      [](const VlPtpStatus& st) { return st.port_state == 6 && std::string(st.gm_id) == "02-76-6C-FF-FE-00-00-02"; },
      &s));
  EXPECT_EQ(ifc->leap_seconds(), 0u);  // its own time: the system clock's
}

}  // namespace
