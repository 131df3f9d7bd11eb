#include "table.h"
#include "views.h"

#include "vltest/device_description.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

namespace {

TEST(Table, ColumnsAlignOnTheWidestCell) {
  Table table({"NAME", "N"});
  table.add({"GeneratorRamp", "1"});
  table.add({"A"});
  EXPECT_EQ(table.render(), "NAME           N\nGeneratorRamp  1\nA\n");
}

TEST(Views, StatusShowsTheDescriptionsParts) {
  const VlJsonRef device(json_loads(vltest::device_description().c_str(), 0, nullptr));
  const std::string status = view_status(device.get());
  for (const char* part : {"Device: V D, serial S, version 1.3-", "veth0  198.18.0.1  255.255.255.0  02:00:00:00:00:01",
                           "AnalyzerRamp", "239.1.1.1  5004  veth0      GeneratorRamp L24/48000/2  -"})
    EXPECT_NE(status.find(part), std::string::npos) << part << " in\n" << status;
}

TEST(Views, DiscoveredStreamsOneRowEach) {
  const VlJsonRef list(json_loads(R"([{"sap_session_name": "Stage", "sap_group": "239.69.1.1", "sap_port": 5004,
      "sap_encoding": "L24/48000/8", "sap_ptime": 0.125, "sap_clock_reference": "ptp=IEEE1588-2008:00-1D-C1:0",
      "sap_origin": "192.168.1.10", "sap_interface": "eth0"}])",
                                  0, nullptr));
  EXPECT_EQ(view_discovered(list.get()),
            "NAME   GROUP       PORT  ENCODING     PTIME  CLOCK                         ORIGIN        INTERFACE\n"
            "Stage  239.69.1.1  5004  L24/48000/8  0.125  ptp=IEEE1588-2008:00-1D-C1:0  192.168.1.10  eth0\n");
}

TEST(Views, LogPrioritiesByNameAndNumber) {
  EXPECT_EQ(log_priority_from_text("debug"), 700);
  EXPECT_EQ(log_priority_from_text("650"), 650);
  EXPECT_EQ(log_priority_from_text("loud"), -1);
  EXPECT_EQ(log_priority_name(300), "error");
  EXPECT_EQ(log_priority_name(650), "650");
}

// A sender's peers: the reporter's SSRC, the signed 24-bit lost count (a
// peer that saw a duplicate reports -1), the largest jitter; the ramp
// analyzer's findings.
TEST(Views, StatisticsAndTheSummaryLineShowWhoReportedWhat) {
  const VlJsonRef info(json_loads(R"([{"session_id": {"session_addr": "239.1.1.1", "session_port": 5004},
      "session_sender_info": {"rtcp_sender_info": {"rtcp_psend": 5000},
        "rtcp_receiver_info": [{"rtcp_cname": "gst-peer", "rtcp_ssrc": 17, "rtcp_lost": 16777215,
                                "rtcp_jitter": 9, "rtcp_reporter_ssrc": 3735928559}]},
      "session_receiver_info": {}}])", 0, nullptr));
  const VlJsonRef devices(json_loads(R"([{"audio_device_name": "AnalyzerRamp", "audio_attributes": [7, 1, 65056]},
      {"audio_device_name": "GeneratorRamp"}])", 0, nullptr));
  const std::string table = view_statistics(info.get());
  EXPECT_NE(table.find("239.1.1.1:5004  sender  5000     0       -1    9       gst-peer (ssrc deadbeef)"),
            std::string::npos) << table;
  EXPECT_EQ(view_summary(info.get(), devices.get()),
            "snd 5000 pkts lost -1 jitter 9 peers 1, AnalyzerRamp mismatches 1 offset 65056 last good 7\n");
  EXPECT_EQ(view_summary(nullptr, nullptr), "no streams\n");
}

}  // namespace
