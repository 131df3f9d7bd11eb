#include "rtcp/rtcp_receiver_report.h"

#include "rtcp_test_support.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct LogCase {
  std::string cname;  // 127 characters fill the record without a terminator
  uint32_t lost_word;
  int priority;
  std::string message;
};

TEST(RtcpReceiverReportLog, TraceWithoutLossErrorWithLoss) {
  const LogCase cases[] = {
      {"peer@host", 0x00000005, VL_LOG_TRACE,
       "RTCP report CNAME:peer@host ---  jitter:7 ---  frac_lost:0 ---  cuml_lost:5"},
      {"peer@host", 0x19000003, VL_LOG_ERROR,
       "RTCP report CNAME:peer@host ---  jitter:7 ---  frac_lost:25 ---  cuml_lost:3"},
      {std::string(vl_cname_size, 'c'), 0, VL_LOG_TRACE,
       "RTCP report CNAME:" + std::string(vl_cname_size, 'c') + " ---  jitter:7 ---  frac_lost:0 ---  cuml_lost:0"},
  };
  const rtcptest::RtcpLogPriority trace(VL_LOG_TRACE);
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.message);
    vltest::LogCapture capture;
    char record[vl_cname_size] = {};
    std::memcpy(record, c.cname.data(), c.cname.size());
    rtcp_receiver_report_log(record, 7, c.lost_word);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].category, "velanto.rtcp");
    EXPECT_EQ(records[0].priority, c.priority);
    EXPECT_EQ(records[0].message, c.message);
  }
}

}  // namespace
