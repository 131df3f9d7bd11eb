#include "vl/vl_ptp.h"

#include "vl/vl_device.h"
#include "vl/vl_posix_ptp.h"
#include "vltest/log_capture.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A PTP interface whose status the test controls.
class TestInterface : public VlPtpInterface {
 public:
  explicit TestInterface(uint8_t domain = 0) : domain_(domain) {}
  uint8_t domain() override { return domain_; }
  uint32_t leap_seconds() override { return 0; }
  uint64_t now() override { return 0; }
  VlTimerHandle timer_periodic(uint64_t, uint64_t, vl_timer_callback, void*) override { return nullptr; }
  bool timer_remove(VlTimerHandle) override { return true; }
  bool get_ptp_status(VlPtpStatus* status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(Clock::now());
    if (!available_) return false;
    *status = status_;
    return true;
  }
  bool set_ptp_properties(const VlPtpProperties&) override { return false; }
  bool get_ptp_properties(VlPtpProperties*) override { return false; }
  uint64_t max_offset_from_master() override { return 1000; }

  void set_status(bool available, bool synchronized, uint32_t port_state = 6) {
    std::lock_guard<std::mutex> lock(mutex_);
    available_ = available;
    status_ = VlPtpStatus{};
    status_.port_state = port_state;
    status_.flags = synchronized ? vl_ptp_flag_synchronized : 0;
    status_.log_sync = -4;  // poll every 62 ms
    std::strcpy(status_.master_ip, "10.0.0.9");
    std::strcpy(status_.gm_id, "00-1D-C1-FF-FE-12-34-56");
  }
  std::vector<Clock::time_point> calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  uint8_t domain_;
  std::mutex mutex_;
  bool available_ = false;
  VlPtpStatus status_{};
  std::vector<Clock::time_point> calls_;
};

class PtpRegistry : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(vl_ptp_init(), 0); }
  void TearDown() override {
    while (VlPtpInterface* ifc = vl_ptp_ifc_get(vl_ptp_any_domain)) vl_ptp_ifc_remove(ifc);
    vl_ptp_exit();
  }
};

TEST_F(PtpRegistry, OneInterfacePerDomain) {
  TestInterface first(0), second(0), other(7);
  EXPECT_TRUE(vl_ptp_ifc_add(&first));
  EXPECT_FALSE(vl_ptp_ifc_add(&second));
  EXPECT_TRUE(vl_ptp_ifc_add(&other));
  EXPECT_EQ(vl_ptp_ifc_get(vl_ptp_any_domain), &first);
  EXPECT_EQ(vl_ptp_ifc_get(7), &other);
  EXPECT_EQ(vl_ptp_ifc_get(7 + 256 * 3), &other);  // low 8 bits
  EXPECT_EQ(vl_ptp_ifc_get(3), nullptr);
  EXPECT_TRUE(vl_ptp_ifc_remove(&first));
  EXPECT_FALSE(vl_ptp_ifc_remove(&first));
  EXPECT_EQ(vl_ptp_ifc_get(vl_ptp_any_domain), &other);
}

TEST_F(PtpRegistry, ExitReportsLeftovers) {
  vltest::LogCapture capture;
  TestInterface ifc;
  vl_ptp_ifc_add(&ifc);
  struct Leftover : VlControllable {} leftover;
  vl_ptp_exit();
  EXPECT_EQ(capture.count("PTP interface registry still contains 1 entries!"), 1);
  EXPECT_EQ(capture.count("Failed to unregister 1 controllable objects"), 1);
  EXPECT_EQ(capture.count("is type VlControllable"), 1);
  ASSERT_EQ(vl_ptp_init(), 0);
}

TEST(PtpPollSleep, FollowsTheSyncInterval) {
  EXPECT_EQ(vl_ptp_poll_sleep_us(1), 1998000u);
  EXPECT_EQ(vl_ptp_poll_sleep_us(0), 999000u);
  EXPECT_EQ(vl_ptp_poll_sleep_us(-3), 124875u);
  EXPECT_EQ(vl_ptp_poll_sleep_us(-7), 6993u);
  EXPECT_LE(vl_ptp_poll_sleep_us(127), 1024u * 999000u);  // a wild interval cannot overflow
  EXPECT_EQ(vl_ptp_poll_sleep_us(-10), 999u);  // never a busy loop
  EXPECT_EQ(vl_ptp_poll_sleep_us(-128), 999u);
}

class PtpPoll : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vl_ptp_init(), 0);
    device_ = vl_device_ctor(nullptr);
    ASSERT_NE(device_, nullptr);
  }
  void TearDown() override {
    vl_ptp_poll(nullptr);
    vl_device_dtor(device_);
    vl_posix_ptp_exit();
    while (VlPtpInterface* registered = vl_ptp_ifc_get(vl_ptp_any_domain)) vl_ptp_ifc_remove(registered);
    vl_ptp_exit();
  }
  VlPtpStatus status() {
    VlLock lock(device_->ptp_lock);
    return device_->ptp_status;
  }
  // Waits until the poller has read the status `more` more times.
  bool polled(size_t more) {
    const size_t target = ifc.calls().size() + more;
    return vltest::wait_until([&] { return ifc.calls().size() >= target; }, 5s);
  }
  bool logged(vltest::LogCapture& capture, const std::string& message, int times = 1) {
    return vltest::wait_until([&] { return capture.count(message) >= times; }, 5s);
  }
  // Outlives the poll thread, which TearDown stops.
  TestInterface ifc;
  VlDevice* device_ = nullptr;
};

// Its status fails every time: one message for the streak, a zeroed record
// at every poll, no resync.
TEST_F(PtpPoll, SystemClockReferenceIsNeverSynchronized) {
  vltest::LogCapture capture;
  ASSERT_TRUE(vl_posix_ptp_init());
  const auto stale = [this] {
    VlLock lock(device_->ptp_lock);
    device_->ptp_status.port_state = 9;
  };
  const auto cleared = [this] { return status().port_state == 0; };
  stale();
  ASSERT_EQ(vl_ptp_poll(device_), 0);
  ASSERT_TRUE(vltest::wait_until(cleared, 5s));
  stale();
  ASSERT_TRUE(vltest::wait_until(cleared, 5s));  // the next poll, a second later
  EXPECT_EQ(capture.count("Could not get PTP status! PTP is statet _NOT_ synchronized now!"), 1);
  EXPECT_EQ(capture.count("starting stream resync"), 0);
  const VlPtpStatus s = status();
  const VlPtpStatus zero{};
  EXPECT_EQ(std::memcmp(&s, &zero, sizeof s), 0);
}

TEST_F(PtpPoll, FailuresAreRetriedEvery999Ms) {
  vltest::LogCapture capture;
  ASSERT_TRUE(vl_ptp_ifc_add(&ifc));
  ASSERT_EQ(vl_ptp_poll(device_), 0);
  ASSERT_TRUE(polled(3));
  const auto calls = ifc.calls();
  for (size_t i = 1; i < calls.size(); ++i) {
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(calls[i] - calls[i - 1]);
    EXPECT_GE(gap.count(), 999);
    EXPECT_LT(gap.count(), 1100);
  }
  EXPECT_EQ(capture.count("Could not get PTP status!"), 1);
}

TEST_F(PtpPoll, GainingSyncResyncsOnceAndLosingItIsReported) {
  const std::string resync = "starting stream resync";
  vltest::LogCapture capture;
  ifc.set_status(true, false);
  ASSERT_TRUE(vl_ptp_ifc_add(&ifc));
  ASSERT_EQ(vl_ptp_poll(device_), 0);
  ASSERT_TRUE(polled(2));
  EXPECT_EQ(capture.count(resync), 0);

  ifc.set_status(true, true);
  ASSERT_TRUE(logged(capture,
                     "PTP client is now synchronized to master 10.0.0.9 (gm: 00-1D-C1-FF-FE-12-34-56), starting "
                     "stream resync!"));
  EXPECT_TRUE(vl_ptp_status_is_synchronized(status()));
  EXPECT_STREQ(status().master_ip, "10.0.0.9");
  ASSERT_TRUE(polled(2));  // still synchronized: no second resync
  EXPECT_EQ(capture.count(resync), 1);

  ifc.set_status(true, false);
  ASSERT_TRUE(logged(capture, "PTP client has lost it's synchronization to master 10.0.0.9!"));
  ASSERT_TRUE(polled(2));
  EXPECT_EQ(capture.count(resync), 1);

  ifc.set_status(false, false);  // a failure streak, then back
  ASSERT_TRUE(logged(capture, "Could not get PTP status!"));
  ASSERT_TRUE(polled(1));  // the next poll after a failure is 999 ms later
  ifc.set_status(true, true);
  ASSERT_TRUE(logged(capture, resync, 2));
  EXPECT_EQ(capture.count("Could not get PTP status!"), 1);
}

TEST_F(PtpPoll, EndsWhenNoInterfaceIsRegistered) {
  vltest::LogCapture capture;
  ASSERT_EQ(vl_ptp_poll(device_), 0);
  ASSERT_TRUE(logged(capture, "PTP interface is not ready!"));
  const auto start = Clock::now();
  vl_ptp_poll(nullptr);
  EXPECT_LT(Clock::now() - start, 200ms);
  EXPECT_EQ(capture.count("PTP interface is not ready!"), 1);
}

// Stopped during the 999 ms wait after a failed poll.
TEST_F(PtpPoll, StopIsPrompt) {
  ASSERT_TRUE(vl_ptp_ifc_add(&ifc));
  ASSERT_EQ(vl_ptp_poll(device_), 0);
  ASSERT_TRUE(polled(1));
  const auto start = Clock::now();
  vl_ptp_poll(nullptr);
  EXPECT_LT(Clock::now() - start, 200ms);
}

TEST(PtpRecords, StatusRoundTripWithEveryKey) {
  VlPtpStatus s{};
  s.domain = 3;
  s.port_state = 9;
  s.flags = vl_ptp_flag_slave_only | vl_ptp_flag_synchronized;
  std::strcpy(s.master_ip, "192.168.1.100");
  std::strcpy(s.gm_id, "00-1D-C1-FF-FE-12-34-56");
  s.delay_mechanism = 2;
  s.gm_clock_class = 6;
  s.gm_clock_accuracy = 33;
  s.offset_nsec = 1234567;
  s.offset_sign = 1;
  s.prio_1 = 128;
  s.prio_2 = 127;
  s.log_announce = 1;
  s.log_sync = -3;
  s.dscp = 46;
  json_t* json = vl_ptp_status_encode(&s);
  ASSERT_NE(json, nullptr);
  const char* keys[] = {"ptp_domain", "ptp_port_state", "ptp_slave_only", "ptp_is_syncronized",
                        "ptp_master_ip", "ptp_delay_mechanism", "ptp_gm_id", "ptp_gm_clock_class",
                        "ptp_gm_clock_accuracy", "ptp_offset_nsec", "ptp_offset_sign", "ptp_prio_1",
                        "ptp_prio_2", "ptp_log_announce", "ptp_log_sync", "ptp_dscp"};
  ASSERT_EQ(json_object_size(json), std::size(keys));
  size_t i = 0;
  for (void* it = json_object_iter(json); it; it = json_object_iter_next(json, it))
    EXPECT_STREQ(json_object_iter_key(it), keys[i++]);
  EXPECT_EQ(json_integer_value(json_object_get(json, "ptp_log_sync")), -3);
  VlPtpStatus* back = vl_ptp_status_decode(json);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::memcmp(back, &s, sizeof s), 0);
  delete back;
  json_decref(json);
}

TEST(PtpRecords, PropertiesRoundTripWithEveryKey) {
  VlPtpProperties p{};  // zeroed padding, so that memcmp compares the fields
  p.domain = 5;
  p.prio_1 = 100;
  p.prio_2 = 101;
  p.log_announce = -2;
  p.log_sync = -4;
  p.flags = vl_ptp_flag_slave_only;
  p.delay_mechanism = 1;
  p.dscp = 34;
  json_t* json = vl_ptp_properties_encode(&p);
  ASSERT_NE(json, nullptr);
  EXPECT_EQ(json_object_size(json), 8u);
  VlPtpProperties* back = vl_ptp_properties_decode(json);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::memcmp(back, &p, sizeof p), 0);
  delete back;
  json_decref(json);
}

TEST(PtpRecords, MissingKeysDecodeAsZeroAndLongTextsAreCut) {
  json_t* json = json_pack("{s:i, s:s}", "ptp_domain", 4, "ptp_master_ip", "123.123.123.123-and-more");
  VlPtpStatus* s = vl_ptp_status_decode(json);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->domain, 4);
  EXPECT_EQ(s->port_state, 0u);
  EXPECT_EQ(s->flags, 0);
  EXPECT_STREQ(s->master_ip, "123.123.123.123");
  EXPECT_STREQ(s->gm_id, "");
  delete s;
  json_decref(json);
  json_t* empty = json_object();
  VlPtpProperties* p = vl_ptp_properties_decode(empty);
  ASSERT_NE(p, nullptr);
  const VlPtpProperties zero{};
  EXPECT_EQ(std::memcmp(p, &zero, sizeof zero), 0);
  delete p;
  json_decref(empty);
}

}  // namespace
