#include "vl/vl_sender_info.h"

#include "vltest/log_capture.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

using SenderInfoPtr = std::unique_ptr<VlSenderInfo>;

std::string compact(const json_t* json) {
  std::unique_ptr<char, decltype(&std::free)> text(json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER), &std::free);
  return text ? text.get() : "";
}

VlJsonRef parse(const char* text) { return VlJsonRef(json_loads(text, 0, nullptr)); }

TEST(VlSenderInfo, EncodesFiveWordsInOrderWithoutTheSsrc) {
  const VlSenderInfo info{0xDEADBEEF, 3900000000u, 2147483648u, 4294967295u, 12, 3456};
  VlJsonRef json(vl_sender_info_encode(&info));
  EXPECT_EQ(compact(json.get()),
            "{\"rtcp_ntp_sec\":3900000000,\"rtcp_ntp_frac\":2147483648,\"rtcp_rtp_ts\":4294967295,"
            "\"rtcp_psend\":12,\"rtcp_osend\":3456}");
  EXPECT_EQ(vl_sender_info_encode(nullptr), nullptr);

  const SenderInfoPtr back(vl_sender_info_decode(json.get()));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->ssrc, 0u);
  EXPECT_EQ(back->ntp_sec, info.ntp_sec);
  EXPECT_EQ(back->ntp_frac, info.ntp_frac);
  EXPECT_EQ(back->rtp_ts, info.rtp_ts);
  EXPECT_EQ(back->psend, info.psend);
  EXPECT_EQ(back->osend, info.osend);
}

TEST(VlSenderInfo, DecodeRefusesAnyOtherMemberCount) {
  vltest::LogCapture capture;
  VlJsonRef six = parse(
      "{\"rtcp_ntp_sec\":1,\"rtcp_ntp_frac\":2,\"rtcp_rtp_ts\":3,\"rtcp_psend\":4,\"rtcp_osend\":5,\"rtcp_ssrc\":6}");
  EXPECT_EQ(vl_sender_info_decode(six.get()), nullptr);
  EXPECT_EQ(capture.count("Invalid size for VlSenderInfo json object! Should be 5, but is 6!"), 1);

  VlJsonRef array = parse("[1, 2, 3, 4, 5]");
  EXPECT_EQ(vl_sender_info_decode(array.get()), nullptr);
  EXPECT_EQ(vl_sender_info_decode(nullptr), nullptr);
  EXPECT_EQ(capture.count("Invalid size for VlSenderInfo json object! Should be 5, but is 0!"), 2);
}

TEST(VlSenderInfo, DecodePassesOverForeignAndMistypedMembers) {
  vltest::LogCapture capture;
  VlJsonRef json = parse(
      "{\"rtcp_ntp_sec\":4294967297,\"rtcp_ntp_frac\":\"2\",\"rtcp_rtp_ts\":3,\"rtcp_psend\":4,\"other\":5}");
  const SenderInfoPtr info(vl_sender_info_decode(json.get()));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->ntp_sec, 1u);  // low 32 bits
  EXPECT_EQ(info->ntp_frac, 0u);
  EXPECT_EQ(info->rtp_ts, 3u);
  EXPECT_EQ(info->psend, 4u);
  EXPECT_EQ(info->osend, 0u);
  EXPECT_EQ(capture.count("VlSenderInfo: Illegal type of key rtcp_ntp_frac"), 1);
  EXPECT_EQ(capture.count("VlSenderInfo: Unknown key other inside json object!"), 1);
}

TEST(VlSenderInfoUpdate, StoresTheReportAndWarnsAboutStalledCounts) {
  vltest::LogCapture capture;
  VlSenderInfo info{};
  const uint32_t empty_report[vl_sender_report_words] = {10, 20, 30, 0, 0};
  vl_sender_info_update(&info, 77, empty_report);
  EXPECT_EQ(capture.count("Got sender report that claims to send no RTP packets: 77!"), 1);
  EXPECT_EQ(capture.count("Sender did not send out any RTP packets since last RTCP report: 77!"), 1);
  for (const auto& record : capture.records()) {
    if (record.message.find("claims") != std::string::npos) {
      EXPECT_EQ(record.priority, VL_LOG_WARN);
    }
    if (record.message.find("since last") != std::string::npos) {
      EXPECT_EQ(record.priority, VL_LOG_ERROR);
    }
  }
  EXPECT_EQ(info.ssrc, 77u);
  EXPECT_EQ(info.ntp_sec, 10u);
  EXPECT_EQ(info.ntp_frac, 20u);
  EXPECT_EQ(info.rtp_ts, 30u);

  capture.clear();
  const uint32_t moving_report[vl_sender_report_words] = {11, 21, 31, 5, 600};
  vl_sender_info_update(&info, 77, moving_report);
  EXPECT_TRUE(capture.records().empty());
  EXPECT_EQ(info.psend, 5u);
  EXPECT_EQ(info.osend, 600u);

  vl_sender_info_update(&info, 77, moving_report);
  EXPECT_EQ(capture.count("Sender did not send out any RTP packets since last RTCP report: 77!"), 1);
  EXPECT_EQ(capture.count("claims to send no RTP packets"), 0);

  vl_sender_info_update(nullptr, 77, moving_report);
}

TEST(VlTaiToNtp, SplitsSecondsAndFraction) {
  const uint64_t ntp = vl_tai_to_ntp(1500000000);
  EXPECT_EQ(static_cast<uint32_t>(ntp), 2208988801u);
  EXPECT_EQ(static_cast<uint32_t>(ntp >> 32), 2147483648u);
  EXPECT_EQ(vl_tai_to_ntp(0), 2208988800u);
  // The fraction rounds down: 1 ns is 4.29 units of 2^-32 s.
  EXPECT_EQ(vl_tai_to_ntp(1) >> 32, 4u);
  EXPECT_EQ(vl_tai_to_ntp(999999999) >> 32, 4294967291u);
}

TEST(VlTaiToNtp, SecondsWrapAtTheEndOfTheNtpEra) {
  // 2^32 - 2208988800 seconds after the Unix epoch the NTP seconds start over.
  const uint64_t era_end_s = 4294967296u - 2208988800u;
  const uint64_t ntp = vl_tai_to_ntp(era_end_s * 1000000000u + 250000000u);
  EXPECT_EQ(static_cast<uint32_t>(ntp), 0u);
  EXPECT_EQ(static_cast<uint32_t>(ntp >> 32), 1073741824u);
  EXPECT_EQ(static_cast<uint32_t>(vl_tai_to_ntp((era_end_s - 1) * 1000000000u)), 4294967295u);
}

}  // namespace
