// The five-second report cycle of a session's RTCP endpoint, and two
// devices in the two lab hosts streaming to each other, each reporting on
// the other's stream.
#include "rtcp_session_lab.h"

#include "rtcp/rtcp_handler.h"

#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;
using rtcplab::LabDevice;
using vltest::NetLab;
using RtcpSessionCycle = rtcplab::SessionTest;

constexpr auto tolerance = 50ms;

std::chrono::nanoseconds realtime_now() { return std::chrono::system_clock::now().time_since_epoch(); }

// Within `tolerance` of `expected`.
::testing::AssertionResult about(std::chrono::nanoseconds actual, std::chrono::nanoseconds expected) {
  const auto off = actual - expected;
  if (off <= tolerance && off >= -tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "off by " << std::chrono::duration_cast<std::chrono::milliseconds>(off).count()
                                       << " ms";
}

// Datagrams that keep arriving do not postpone the reports; the flood is
// evaluated into the sender's list of receivers. The removed sender's
// goodbye goes out at once, and the cycle goes on with receiver reports.
TEST_F(RtcpSessionCycle, ReportsEveryFiveSecondsUnderAFloodOfIncomingRtcp) {
  rtcplab::RtcpFlood flood(lab_.net(), NetLab::B, ssrc());
  ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
  ASSERT_TRUE(device_.add_receiver(session_, rtcplab::group_from_b, rtcplab::port_from_b));
  std::vector<rtcplab::Report> reports;
  for (int i = 0; i < 3; ++i) {
    auto report = next_report(6s);
    ASSERT_TRUE(report) << "report " << i;
    if (i == 0) {
      EXPECT_TRUE(rtcplab::new_sender_report(report->kinds())) << report->kinds();
    } else {
      EXPECT_EQ(report->kinds(), "SR SDES");
    }
    reports.push_back(std::move(*report));
  }
  EXPECT_TRUE(about(reports[1].arrival - reports[0].arrival, 5s));
  EXPECT_TRUE(about(reports[2].arrival - reports[1].arrival, 5s));
  const auto flooder = rtcplab::listed_receiver(sender(), rtcplab::RtcpFlood::reporter);
  ASSERT_TRUE(flooder);
  EXPECT_EQ(flooder->cname, "flood@198.18.0.2");

  LabDevice::remove_sender(session_);
  const auto goodbye = next_report();
  ASSERT_TRUE(goodbye);
  EXPECT_EQ(goodbye->kinds(), "SR SDES BYE");
  const auto next = next_report(6s);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->kinds(), "RR SDES");
  EXPECT_TRUE(about(next->arrival - reports[2].arrival, 5s));
}

// Nothing is sent before the first stream, not even at the end of an
// interval; a lone receiver is first reported after one interval; without
// streams the session falls silent until the next one.
TEST_F(RtcpSessionCycle, ReportingWaitsForAStreamPausesWithoutAndResumes) {
  EXPECT_FALSE(next_report(5500ms));

  ASSERT_TRUE(device_.add_receiver(session_, rtcplab::group_from_b, rtcplab::port_from_b));
  const auto added = realtime_now();
  const auto first = next_report(6s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->kinds(), "RR SDES");
  EXPECT_TRUE(about(first->arrival - added, 5s));

  LabDevice::remove_receiver(session_);
  EXPECT_FALSE(next_report(5500ms));

  ASSERT_TRUE(device_.add_sender(session_, rtcplab::group_from_a, rtcplab::port_from_a));
  const auto resumed = next_report();
  ASSERT_TRUE(resumed);
  EXPECT_TRUE(rtcplab::new_sender_report(resumed->kinds())) << resumed->kinds();
}

// Device A streams to B through the lab's impairing relay, which loses
// packets; B streams back to A directly. Both sessions share the session
// group, so each hears the other's reports.
class RtcpTwoDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.net().error();
    ASSERT_TRUE(a_.ok());
    ASSERT_TRUE(b_.ok());
    session_a_ = a_.add_session();
    session_b_ = b_.add_session();
    ASSERT_NE(session_a_, nullptr);
    ASSERT_NE(session_b_, nullptr);
    ASSERT_TRUE(b_.add_receiver(session_b_, rtcplab::group_from_a, rtcplab::port_from_a));
    ASSERT_TRUE(a_.add_receiver(session_a_, rtcplab::group_from_b, rtcplab::port_from_b));
    ASSERT_TRUE(a_.add_sender(session_a_, "127.0.0.1", rtcplab::port_from_a));  // through the relay
    ASSERT_TRUE(b_.add_sender(session_b_, rtcplab::group_from_b, rtcplab::port_from_b));
  }
  // The devices go before the relay that A's stream sends to.
  void TearDown() override {
    lab_.destroy(a_.device());
    lab_.destroy(b_.device());
  }

  vltest::LogCapture log_;
  vltest::DeviceLab lab_;
  rtp_lab::ImpairingRelay relay_{lab_.net(), rtcplab::group_from_a, rtcplab::port_from_a, {0.02, 0, 0}, 20260611};
  LabDevice a_{lab_, NetLab::A};
  LabDevice b_{lab_, NetLab::B};
  VlSession* session_a_ = nullptr;
  VlSession* session_b_ = nullptr;
};

// A's sender lists B's receiver with its SSRC, CNAME and the loss it
// counts; B's receiver keeps A's last SR. When B's receiver goes, B stops
// reporting on A's stream, and its entry ages out at A's next sweeps.
TEST_F(RtcpTwoDevices, EachReportsOnTheOthersStream) {
  VlStreamSender* sender = vl_session_get_sender(session_a_);
  VlStreamReceiver* receiver = vl_session_get_receiver(session_b_);
  const uint32_t ssrc_a = vl_session_ssrc(session_a_);
  const uint32_t ssrc_b = vl_session_ssrc(session_b_);

  std::optional<rtcplab::Listed> entry;
  ASSERT_TRUE(vltest::wait_until(
      [&] {
        entry = rtcplab::listed_receiver(sender, ssrc_b);
        return entry && (entry->lost & 0xFFFFFF) > 0;
      },
      11s, 10ms))
      << "B's report on A's stream, with loss";
  EXPECT_EQ(entry->source, ssrc_a);
  EXPECT_EQ(entry->cname, session_b_->rtcp.cname);
  EXPECT_LE(static_cast<int>(entry->lost & 0xFFFFFF), relay_.dropped());
  const VlJsonRef encoded(vl_stream_encode_info(sender));
  const json_t* listed = json_array_get(json_object_get(encoded.get(), "rtcp_receiver_info"), 0);
  EXPECT_STREQ(json_string_value(json_object_get(listed, "rtcp_cname")), session_b_->rtcp.cname);

  std::unique_ptr<VlSenderInfo, void (*)(VlSenderInfo*)> remote(nullptr, vl_sender_info_dtor);
  ASSERT_TRUE(vltest::wait_until(
      [&] {
        VlSenderInfo* copy = nullptr;
        remote.reset(vl_stream_sender_info(receiver, &copy));
        return remote && remote->ssrc == ssrc_a;
      },
      11s, 10ms))
      << "A's SR at B";
  const VlSenderInfo* sent = vl_stream_sender_stat(sender);
  ASSERT_NE(sent, nullptr);
  EXPECT_GT(remote->psend, 0u);
  EXPECT_LE(remote->psend, sent->psend);
  EXPECT_GT(remote->ntp_sec, sent->ntp_sec - 15);

  LabDevice::remove_receiver(session_b_);
  EXPECT_TRUE(vltest::wait_until([&] { return !rtcplab::listed_receiver(sender, ssrc_b); },
                                 2 * std::chrono::nanoseconds(vl_rtcp_report_interval_ns) + 500ms, 10ms))
      << "B's entry outlived two sweeps";
}

}  // namespace
