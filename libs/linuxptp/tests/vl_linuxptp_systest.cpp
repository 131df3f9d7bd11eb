// Two real ptp4l (Debian's linuxptp) in the lab's hosts, software time
// stamping over the veth pair, free running so that neither ever adjusts a
// clock. The reference reads the slave's status through its management
// socket, a path on the shared file system.
#include "linuxptp/vl_linuxptp.h"

#include "vl/vl_ptp.h"
#include "vltest/log_capture.h"
#include "vltest/netlab.h"
#include "vltest/process.h"
#include "vltest/temp_dir.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;
using vltest::NetLab;

constexpr const char* ptp4l_program = "/usr/sbin/ptp4l";
constexpr const char* pmc_program = "/usr/sbin/pmc";
constexpr int domain = 3;

// linuxptp 4 opens a read-only socket too, by default at a system path.
bool has_read_only_socket() {
  const vltest::ProcessResult version = vltest::run_process({ptp4l_program, "-v"}, 5s);
  return std::atoi(version.output.c_str()) >= 4;
}

// One ptp4l on the lab link of `host`, its configuration and management
// socket in a directory of its own.
class LabPtp4l {
 public:
  LabPtp4l(const NetLab& lab, NetLab::Host host, int priority1) : lab_(lab), host_(host) {
    const std::string config = dir_.path() + "/ptp4l.conf";
    std::ofstream(config) << "[global]\n"
                          << "free_running 1\n"
                          << "time_stamping software\n"
                          << "network_transport UDPv4\n"
                          << "domainNumber " << domain << "\n"
                          << "priority1 " << priority1 << "\n"
                          << "logAnnounceInterval -2\nlogSyncInterval -3\nlogMinDelayReqInterval -3\n"
                          << "uds_address " << socket() << "\n"
                          << (has_read_only_socket() ? "uds_ro_address " + dir_.path() + "/ptp4lro\n" : "")
                          << "[" << NetLab::link_device[host] << "]\n";
    process_ = std::make_unique<vltest::Process>(
        lab.command(host, {ptp4l_program, "-f", config, "-q", "-m", "-l", "5"}));
  }
  ~LabPtp4l() { stop(); }

  std::string socket() const { return dir_.path() + "/ptp4l"; }
  bool started() {
    return process_->started() && vltest::wait_until([&] { return access(socket().c_str(), F_OK) == 0; }, 5s);
  }
  vltest::Process& process() { return *process_; }
  void stop() {
    if (!process_) return;
    process_->signal(SIGTERM);
    process_->wait_exit(5s);
    process_.reset();
  }
  // pmc on this ptp4l's socket; its output.
  std::string pmc(const std::string& command) const {
    const std::string own = dir_.path() + "/pmc";
    return vltest::run_process(lab_.command(host_, {pmc_program, "-u", "-b", "0", "-d", std::to_string(domain), "-s",
                                                    socket(), "-i", own, command}),
                               5s)
        .output;
  }

 private:
  const NetLab& lab_;
  NetLab::Host host_;
  vltest::TempDir dir_;
  std::unique_ptr<vltest::Process> process_;
};

double offset_pmc_reads(const LabPtp4l& ptp4l) {
  const std::string out = ptp4l.pmc("GET CURRENT_DATA_SET");
  const std::size_t at = out.find("offsetFromMaster");
  return at == std::string::npos ? 0 : std::atof(out.c_str() + at + std::strlen("offsetFromMaster"));
}

class RealPtp4l : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(ptp4l_program, X_OK), 0) << "linuxptp is missing: run scripts/setup.sh";
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
  // The PTP time scale with its UTC offset, not marked traceable: no ptp4l
  // passes it on to the kernel.
  ASSERT_NE(master.pmc("SET GRANDMASTER_SETTINGS_NP clockClass 248 clockAccuracy 0xfe offsetScaledLogVariance 0xffff "
                       "currentUtcOffset 37 leap61 0 leap59 0 currentUtcOffsetValid 1 ptpTimescale 1 "
                       "timeTraceable 0 frequencyTraceable 0 timeSource 0xa0")
                .find("ptpTimescale            1"),
            std::string::npos);
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
