// The ptp4l-backed clock reference and PTP interface against the scripted
// responder, alone and under the PTP poller.
#include "linuxptp/vl_linuxptp.h"

#include "ptp4l_test_support.h"
#include "vl/vl_device.h"
#include "vl/vl_posix_ptp.h"
#include "vl/vl_ptp.h"
#include "vlsys/vl_time.h"
#include "vltest/log_capture.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ptp4ltest::Fault;
using ptp4ltest::Ptp4lState;
using ptp4ltest::ScriptedPtp4l;

constexpr uint64_t second = 1000000000ULL;
const char* const resync = "starting stream resync";
const char* const lost = "PTP client has lost it's synchronization";

class LinuxPtp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(responder_->ok());
    ASSERT_EQ(vl_ptp_init(), 0);
  }
  void TearDown() override {
    vl_ptp_poll(nullptr);
    vl_device_dtor(device_);
    vl_linuxptp_exit();
    vl_posix_ptp_exit();
    vl_ptp_exit();
  }

  VlPtpInterface* start(const Ptp4lState& state = {}) {
    responder_->set(state);
    EXPECT_TRUE(vl_linuxptp_init(dir_.socket.c_str()));
    return vl_ptp_ifc_get(vl_ptp_any_domain);
  }
  void poll() {
    device_ = vl_device_ctor(nullptr);
    ASSERT_NE(device_, nullptr);
    ASSERT_EQ(vl_ptp_poll(device_), 0);
  }
  VlPtpStatus device_status() {
    VlLock lock(device_->ptp_lock);
    return device_->ptp_status;
  }
  bool synchronized() { return vl_ptp_status_is_synchronized(device_status()); }
  // Until the poller has read the status `n` more times.
  bool polls(int n) {
    const int target = responder_->answered() + 6 * n;
    return vltest::wait_until([&] { return responder_->answered() >= target; }, 5s);
  }

  vltest::LogCapture log_;
  ptp4ltest::ScriptedPtp4lDir dir_;
  std::unique_ptr<ScriptedPtp4l> responder_ = std::make_unique<ScriptedPtp4l>(dir_.socket);
  VlDevice* device_ = nullptr;
};

TEST_F(LinuxPtp, StatusThroughThePtpInterface) {
  Ptp4lState state;
  state.domain = 3;
  state.offset_ns = -300;
  state.master_ip = "198.18.0.1";
  VlPtpInterface* ifc = start(state);
  ASSERT_NE(ifc, nullptr);
  EXPECT_EQ(vl_ptp_ifc_get(3), ifc);
  EXPECT_EQ(ifc->domain(), 3);
  EXPECT_EQ(ifc->leap_seconds(), 37u);
  EXPECT_EQ(ifc->max_offset_from_master(), 1000u);

  VlPtpStatus s{};
  ASSERT_TRUE(ifc->get_ptp_status(&s));
  EXPECT_EQ(s.domain, 3);
  EXPECT_EQ(s.port_state, 9u);
  EXPECT_TRUE(vl_ptp_status_is_synchronized(s));
  EXPECT_EQ(s.offset_nsec, 300u);
  EXPECT_NE(s.offset_sign, 0);
  EXPECT_STREQ(s.gm_id, "00-1D-C1-FF-FE-12-34-56");
  EXPECT_STREQ(s.master_ip, "198.18.0.1");
  EXPECT_EQ(s.gm_clock_class, 6);
  EXPECT_EQ(s.gm_clock_accuracy, 0x21);
  EXPECT_EQ(s.prio_1, 100);
  EXPECT_EQ(s.prio_2, 101);
  EXPECT_EQ(s.delay_mechanism, 1u);
  EXPECT_EQ(s.log_announce, 1);
  EXPECT_EQ(s.log_sync, -4);

  VlClockrefPtp* reference = vl_linuxptp_instance();
  EXPECT_EQ(vl_clockref_find("PTPv2 0"), reference);
  EXPECT_STREQ(reference->type().type_name, "VlLinuxPtp");
  EXPECT_EQ(vl_clockref_ptp_get_status(reference).port_state, 9u);
  EXPECT_TRUE(vl_clockref_compatible(reference, "PTPv2 0"));
  EXPECT_FALSE(vl_clockref_compatible(reference, "PTPv2 3"));
}

TEST_F(LinuxPtp, NowIsTheSystemClockPlusTheTaiOffset) {
  VlPtpInterface* ifc = start();
  ASSERT_NE(ifc, nullptr);
  int32_t status = 5;
  const int64_t ahead = static_cast<int64_t>(vl_clockref_now(vl_linuxptp_instance(), &status) - vl_realtime_ns());
  EXPECT_EQ(status, 0);
  EXPECT_NEAR(static_cast<double>(ahead), 37.0 * second, 1e7);

  Ptp4lState arbitrary;
  arbitrary.time_flags = 0;  // the master's own time scale: the system clock runs on it
  responder_->set(arbitrary);
  VlPtpStatus s{};
  ASSERT_TRUE(ifc->get_ptp_status(&s));
  EXPECT_EQ(ifc->leap_seconds(), 0u);
  EXPECT_NEAR(static_cast<double>(ifc->now()), static_cast<double>(vl_realtime_ns()), 1e7);
  EXPECT_TRUE(log_.contains("TAI-UTC offset changed from 37 s to 0 s"));
}

// Phases of the ticks on the PTP scale.
struct Phases {
  Phases(VlPtpInterface* i, uint64_t p) : ifc(i), period(p) {}
  VlPtpInterface* ifc;
  uint64_t period;
  std::mutex mutex;
  std::vector<uint64_t> values;

  static void tick(void* user) {
    auto* p = static_cast<Phases*>(user);
    const uint64_t phase = p->ifc->now() % p->period;
    std::lock_guard<std::mutex> lock(p->mutex);
    p->values.push_back(phase);
  }
  // Median of the next `n` ticks.
  uint64_t median_of_next(std::size_t n) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      values.clear();
    }
    EXPECT_TRUE(vltest::wait_until(
        [&] {
          std::lock_guard<std::mutex> lock(mutex);
          return values.size() >= n;
        },
        5s));
    std::lock_guard<std::mutex> lock(mutex);
    std::sort(values.begin(), values.end());
    return values.empty() ? period : values[values.size() / 2];
  }
};

// 37 s and 36 s are not multiples of 6 ms: ticks on the multiples of the
// system clock would lie 4 ms, and after the change 2 ms, into the period.
TEST_F(LinuxPtp, TimersTickOnTheMultiplesOfThePtpScale) {
  VlPtpInterface* ifc = start();
  ASSERT_NE(ifc, nullptr);
  Phases phases(ifc, 6000000);
  EXPECT_EQ(ifc->timer_periodic(0, 0, Phases::tick, &phases), nullptr);  // a period it could never keep
  VlTimerHandle timer = ifc->timer_periodic(0, phases.period, Phases::tick, &phases);
  ASSERT_NE(timer, nullptr);
  EXPECT_LT(phases.median_of_next(25), 1000000u);

  Ptp4lState state;
  state.utc_offset = 36;
  responder_->set(state);
  VlPtpStatus s{};
  ASSERT_TRUE(ifc->get_ptp_status(&s));
  EXPECT_LT(phases.median_of_next(25), 1000000u);
  EXPECT_TRUE(ifc->timer_remove(timer));
}

TEST_F(LinuxPtp, PropertiesApplyPrioritiesAndRefuseTheRest) {
  VlPtpInterface* ifc = start();
  ASSERT_NE(ifc, nullptr);
  VlPtpProperties current{};
  ASSERT_TRUE(ifc->get_ptp_properties(&current));
  EXPECT_EQ(current.prio_1, 128);
  EXPECT_EQ(current.log_sync, -4);
  VlPtpProperties wanted = current;
  wanted.prio_1 = 90;
  wanted.prio_2 = 91;
  ASSERT_TRUE(ifc->set_ptp_properties(wanted));
  EXPECT_EQ(responder_->state().priority1, 90);
  EXPECT_EQ(responder_->state().priority2, 91);

  struct Case {
    const char* name;
    void (*change)(VlPtpProperties&);
  };
  const Case refused[] = {
      {"domain (ptp4l does not support it)", [](VlPtpProperties& p) { p.domain = 4; }},
      {"log announce", [](VlPtpProperties& p) { p.log_announce = 0; }},
      {"log sync", [](VlPtpProperties& p) { p.log_sync = 0; }},
      {"slave only", [](VlPtpProperties& p) { p.flags = vl_ptp_flag_slave_only; }},
      {"delay mechanism", [](VlPtpProperties& p) { p.delay_mechanism = 2; }},
      {"DSCP", [](VlPtpProperties& p) { p.dscp = 46; }},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    VlPtpProperties request = wanted;
    request.prio_2 = 50;  // must not be applied either
    c.change(request);
    EXPECT_FALSE(ifc->set_ptp_properties(request));
    EXPECT_EQ(responder_->state().priority2, 91);
  }
}

TEST_F(LinuxPtp, SelectionFallsBackToTheSystemClockWithAnInfoLine) {
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {{"no socket", dir_.dir.path() + "/absent"}, {"silent ptp4l", dir_.socket}};
  responder_->set_fault(Fault::silent);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    ASSERT_TRUE(vl_linuxptp_select(c.path.c_str()));
    EXPECT_EQ(vl_linuxptp_instance(), nullptr);
    EXPECT_NE(vl_posix_ptp_instance(), nullptr);
    EXPECT_EQ(log_.count("No ptp4l answers at " + c.path), 1);
    vl_posix_ptp_exit();
  }
  log_.clear();
  ASSERT_TRUE(vl_linuxptp_select(nullptr));
  EXPECT_NE(vl_posix_ptp_instance(), nullptr);
  EXPECT_FALSE(log_.contains("ptp4l"));
}

TEST_F(LinuxPtp, GainingSynchronisationResyncsOnceAndLosingItIsReportedOnce) {
  Ptp4lState state;
  state.port_state = 8;
  start(state);
  poll();
  ASSERT_TRUE(vltest::wait_until([&] { return device_status().port_state == 8; }, 5s));
  ASSERT_TRUE(polls(3));
  EXPECT_EQ(log_.count(resync), 0);

  state.port_state = 9;
  responder_->set(state);
  ASSERT_TRUE(vltest::wait_until([&] { return log_.count(resync) == 1; }, 5s));
  ASSERT_TRUE(polls(5));
  EXPECT_EQ(log_.count(resync), 1);

  state.port_state = 8;
  responder_->set(state);
  ASSERT_TRUE(vltest::wait_until([&] { return log_.count(lost) == 1; }, 5s));
  EXPECT_FALSE(synchronized());
  ASSERT_TRUE(polls(5));
  EXPECT_EQ(log_.count(lost), 1);
  EXPECT_EQ(log_.count(resync), 1);
}

TEST_F(LinuxPtp, FollowsADomainChange) {
  VlPtpInterface* ifc = start();
  poll();
  ASSERT_TRUE(vltest::wait_until([&] { return synchronized(); }, 5s));
  Ptp4lState state;
  state.domain = 7;  // ptp4l restarted with another configuration
  responder_->set(state);
  ASSERT_TRUE(vltest::wait_until([&] { return device_status().domain == 7; }, 5s));
  EXPECT_EQ(vl_ptp_ifc_get(7), ifc);
  EXPECT_TRUE(log_.contains("domain changed from 0 to 7"));
  ASSERT_TRUE(polls(3));
  EXPECT_TRUE(synchronized());
  EXPECT_EQ(log_.count(lost), 0);
}

TEST_F(LinuxPtp, AVanishedPtp4lReadsNotSynchronisedUntilItIsBack) {
  start();
  poll();
  ASSERT_TRUE(vltest::wait_until([&] { return synchronized(); }, 5s));
  responder_.reset();
  ASSERT_TRUE(vltest::wait_until([&] { return device_status().port_state == 0; }, 5s));
  EXPECT_TRUE(vltest::wait_until([&] { return log_.contains("Could not get PTP status!"); }, 1s));
  responder_ = std::make_unique<ScriptedPtp4l>(dir_.socket);
  ASSERT_TRUE(vltest::wait_until([&] { return log_.count(resync) == 2; }, 5s));
  EXPECT_TRUE(synchronized());
  EXPECT_TRUE(log_.contains("answers again"));
}

TEST_F(LinuxPtp, StopsPromptlyWhilePtp4lIsSilent) {
  start();
  responder_->set_fault(Fault::silent);
  poll();
  ASSERT_TRUE(vltest::wait_until([&] { return log_.contains("Could not get PTP status!"); }, 5s));
  const auto begin = Clock::now();
  vl_ptp_poll(nullptr);
  EXPECT_LT(Clock::now() - begin, 800ms);
}

std::string fault_name(const ::testing::TestParamInfo<Fault>& info) {
  const char* const names[] = {"none", "silent", "truncated", "oversized", "garbage"};
  return names[static_cast<int>(info.param)];
}

class LinuxPtpBadAnswers : public LinuxPtp, public ::testing::WithParamInterface<Fault> {};

TEST_P(LinuxPtpBadAnswers, ReadNotSynchronisedAndThePollerRecovers) {
  start();
  poll();
  ASSERT_TRUE(vltest::wait_until([&] { return synchronized(); }, 5s));
  responder_->set_fault(GetParam());
  ASSERT_TRUE(vltest::wait_until([&] { return device_status().port_state == 0; }, 5s));
  EXPECT_FALSE(synchronized());
  EXPECT_TRUE(vltest::wait_until([&] { return log_.contains("Could not get PTP status!"); }, 1s));
  responder_->set_fault(Fault::none);
  ASSERT_TRUE(vltest::wait_until([&] { return log_.count(resync) == 2; }, 5s));
  EXPECT_TRUE(synchronized());
  EXPECT_EQ(log_.count("Could not get PTP status!"), 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, LinuxPtpBadAnswers,
                         ::testing::Values(Fault::silent, Fault::truncated, Fault::oversized, Fault::garbage),
                         fault_name);

}  // namespace
