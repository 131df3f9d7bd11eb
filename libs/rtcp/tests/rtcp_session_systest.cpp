// The RTCP endpoint of a session on a device in lab host A, watched from
// host B: when it reports, what it says when a sender goes, and that
// streams and sessions can go while its thread is busy with them.
#include "rtcp_session_lab.h"

#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>

namespace {

using namespace std::chrono_literals;
using rtcplab::LabDevice;
using RtcpSessionLab = rtcplab::SessionTest;

std::atomic<int> signals_caught{0};

// Catches SIGUSR2 while alive; the handler does nothing but count, so every
// wait it interrupts fails with EINTR.
class CaughtSignal {
 public:
  CaughtSignal() {
    struct sigaction action {};
    action.sa_handler = [](int) { ++signals_caught; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR2, &action, &before_);
  }
  ~CaughtSignal() { sigaction(SIGUSR2, &before_, nullptr); }
  CaughtSignal(const CaughtSignal&) = delete;
  CaughtSignal& operator=(const CaughtSignal&) = delete;

 private:
  struct sigaction before_ {};
};

TEST_F(RtcpSessionLab, SilentWithoutStreamsThenASenderIsReportedAtOnce) {
  EXPECT_FALSE(next_report(300ms));

  ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
  const auto report = next_report();
  ASSERT_TRUE(report);
  EXPECT_TRUE(rtcplab::new_sender_report(report->kinds())) << report->kinds();
  EXPECT_EQ(report->cname(), session_->rtcp.cname);
  EXPECT_TRUE(report->cname().ends_with(vltest::NetLab::link_address[vltest::NetLab::A])) << report->cname();
}

// A session that only sends hears what its receivers report.
TEST_F(RtcpSessionLab, ASenderAloneHearsItsReceivers) {
  rtcplab::RtcpFlood flood(lab_.net(), vltest::NetLab::B, ssrc());
  ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
  EXPECT_TRUE(vltest::wait_until([&] { return rtcplab::listed_receiver(sender(), rtcplab::RtcpFlood::reporter).has_value(); }, 2s));
}

TEST_F(RtcpSessionLab, RemovingTheSenderSaysGoodbyeAtOnce) {
  ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
  ASSERT_TRUE(device_.add_receiver(session_, rtcplab::group_from_b, rtcplab::port_from_b));
  ASSERT_TRUE(next_report());

  LabDevice::remove_sender(session_);
  const auto report = next_report();
  ASSERT_TRUE(report);
  EXPECT_TRUE(rtcplab::new_sender_report(report->kinds(), " BYE")) << report->kinds();
  EXPECT_EQ(report->bye_ssrc(), ssrc());
}

// The session lost its last stream within the report interval: the next
// sender starts the cycle afresh with a report at once.
TEST_F(RtcpSessionLab, ASenderAfterAPauseIsReportedAtOnce) {
  ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
  ASSERT_TRUE(next_report());
  LabDevice::remove_sender(session_);
  ASSERT_TRUE(next_report());  // its goodbye

  ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
  const auto report = next_report();
  ASSERT_TRUE(report);
  EXPECT_TRUE(rtcplab::new_sender_report(report->kinds())) << report->kinds();
}

// Signals interrupt the thread's waits while it reports and while it idles;
// it carries on and still answers the next sender at once.
TEST_F(RtcpSessionLab, SignalsDoNotEndReporting) {
  CaughtSignal caught;
  const auto interrupt = [this] {
    for (int i = 0; i < 10; ++i) {
      const int before = signals_caught;
      pthread_kill(session_->rtcp.thread.handle, SIGUSR2);
      ASSERT_TRUE(vltest::wait_until([&] { return signals_caught > before; }, 1s));
    }
  };
  ASSERT_TRUE(device_.add_receiver(session_, rtcplab::group_from_b, rtcplab::port_from_b));
  interrupt();
  LabDevice::remove_receiver(session_);
  interrupt();

  ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
  const auto report = next_report();
  ASSERT_TRUE(report);
  EXPECT_TRUE(rtcplab::new_sender_report(report->kinds())) << report->kinds();
}

// Streams come and go while the thread evaluates a flood of datagrams into
// them and reports on a new sender at once (the sanitizer builds check the
// memory and the locking); every removed sender still says goodbye.
TEST_F(RtcpSessionLab, StreamsGoWhileTheThreadWorksOnThem) {
  rtcplab::RtcpFlood flood(lab_.net(), vltest::NetLab::B, ssrc());
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
    ASSERT_TRUE(device_.add_receiver(session_, rtcplab::group_from_b, rtcplab::port_from_b));
    const auto spin = std::chrono::steady_clock::now() + (i % 4) * 250us;  // vary where the thread is caught
    while (std::chrono::steady_clock::now() < spin) {
    }
    LabDevice::remove_sender(session_);
    LabDevice::remove_receiver(session_);
    ASSERT_TRUE(observer_.next(ssrc(), 1s, true)) << "no goodbye in round " << i;
  }
  EXPECT_GT(flood.sent(), 0);
}

// RTCP that cannot be set up leaves no session behind; once the port is
// free, the session is made and reports.
TEST_F(RtcpSessionLab, ASessionWhoseRtcpPortIsTakenIsNotMade) {
  device_.del_session(session_);
  int blocker = -1;
  lab_.run_in(vltest::NetLab::A, [&] {
    blocker = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in at = rtcplab::address_of(rtcplab::session_group, rtcplab::session_port);
    ASSERT_EQ(bind(blocker, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  });
  EXPECT_EQ(device_.add_session(), nullptr);
  EXPECT_EQ(log_.count("Could not create session 239.77.2.1:5005 on interface veth0:198.18.0.1!"), 1);
  VlSessionId id{};
  ASSERT_TRUE(vl_session_id_make(rtcplab::session_group, rtcplab::session_port, &id));
  EXPECT_EQ(vl_device_find_session(device_.device(), id), nullptr);

  close(blocker);
  session_ = device_.add_session();
  ASSERT_NE(session_, nullptr);
  ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
  EXPECT_TRUE(next_report());
}

// Releasing a session stops its thread promptly, even while it evaluates a
// flood, and then sends the last report with its goodbye on the still open
// socket.
TEST_F(RtcpSessionLab, ReleaseStopsTheThreadThenSaysGoodbye) {
  rtcplab::RtcpFlood flood(lab_.net(), vltest::NetLab::B, ssrc());
  for (int i = 0; i < 10; ++i) {
    VlSession* session = i == 0 ? session_ : device_.add_session();
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(device_.add_sender(session, rtcplab::group_from_a, rtcplab::port_from_a));
    ASSERT_TRUE(device_.add_receiver(session, rtcplab::group_from_b, rtcplab::port_from_b));
    const uint32_t ssrc = vl_session_ssrc(session);

    const auto start = std::chrono::steady_clock::now();
    device_.del_session(session);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    const auto report = observer_.next(ssrc, 1s, true);
    ASSERT_TRUE(report) << "no goodbye in round " << i;
    EXPECT_TRUE(rtcplab::new_sender_report(report->kinds(), " BYE")) << report->kinds();
  }
  session_ = nullptr;
  EXPECT_EQ(log_.count("Could not send RTCP report."), 0);
}

}  // namespace
