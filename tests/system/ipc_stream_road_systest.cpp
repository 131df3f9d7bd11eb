// The whole road of a stream between two daemons set up through the control
// protocol alone: the ramp generator in host A, the ramp analyzer in host B.
#include "ipc_control.h"

#include <string>

namespace {

using namespace ipc_control;

using StreamRoad = TwoDaemons;

// The ramp arrives sample-exact; moving it to the second stream channel
// silences the analyzer until the receiver follows it there.
TEST_F(StreamRoad, TheRampArrivesSampleExactAndFollowsItsChannel) {
  set_up_streams();
  ASSERT_TRUE(ramp_arrives()) << b_.daemon().process().output();
  Findings found = analyzer_findings(b_);
  EXPECT_EQ(found.mismatches, 1u);  // the ramp's start after silence
  EXPECT_EQ(found.offset, exact_offset);

  ASSERT_TRUE(map(a_, 1, "[-1, 0]", "GeneratorRamp"));
  EXPECT_TRUE(ramp_gone());
  ASSERT_TRUE(map(b_, 2, "[-1, 0]", "AnalyzerRamp"));
  EXPECT_TRUE(ramp_arrives());
  found = analyzer_findings(b_);
  EXPECT_EQ(found.mismatches, 1u);
  EXPECT_EQ(found.offset, exact_offset);
}

const json_t* stream_info(const VlJsonRef& info, const char* which) {
  return json_object_get(json_array_get(json_object_get(info.get(), "session_info_list"), 0), which);
}

// Each daemon's statistics hold what the other reported over RTCP: B keeps
// A's last sender report and source description, A keeps B's reception
// report on its stream.
TEST_F(StreamRoad, SessionInfoShowsTheOtherDaemonsReports) {
  set_up_streams();
  VlJsonRef sent, received;
  const json_t* reported = nullptr;   // A's sender report as B keeps it
  const json_t* reception = nullptr;  // B's reception of A's stream
  const json_t* heard = nullptr;      // B's report on it as A keeps it
  ASSERT_TRUE(vltest::wait_until(
      [&] {
        sent = a_.result(8, "null");
        received = b_.result(8, "null");
        const json_t* sender = stream_info(sent, "session_sender_info");
        const json_t* receiver = stream_info(received, "session_receiver_info");
        reported = json_object_get(receiver, "rtcp_sender_info");
        reception = json_array_get(json_object_get(receiver, "rtcp_receiver_info"), 0);
        heard = json_array_get(json_object_get(sender, "rtcp_receiver_info"), 0);
        return json_integer_value(json_object_get(reported, "rtcp_psend")) > 0 && heard &&
               text_of(reported) == text_of(json_object_get(sender, "rtcp_sender_info"));
      },
      15s, 100ms))
      << text_of(sent.get()) << "\n"
      << text_of(received.get());
  EXPECT_STREQ(json_string_value(json_object_get(reception, "rtcp_cname")), vltest::NetLab::link_address[0]);
  EXPECT_STREQ(json_string_value(json_object_get(heard, "rtcp_cname")), vltest::NetLab::link_address[1]);
  // Both name A's stream by its SSRC.
  EXPECT_NE(json_integer_value(json_object_get(heard, "rtcp_ssrc")), 0);
  EXPECT_EQ(json_integer_value(json_object_get(heard, "rtcp_ssrc")),
            json_integer_value(json_object_get(reception, "rtcp_ssrc")));
  EXPECT_GT(json_integer_value(json_object_get(heard, "rtcp_last_seq")), 100);
}

}  // namespace
