#include "sap/sap_announcer.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(SapAnnounceInterval, GrowsOnlyBeyondTheBandwidthLimit) {
  struct Case {
    std::chrono::milliseconds base;
    uint32_t bps;
    std::size_t streams;
    std::size_t bytes;
    std::chrono::milliseconds expected;
  };
  const Case cases[] = {
      {30000ms, 4000, 1, 500, 30000ms},     // 1 s of bandwidth
      {30000ms, 4000, 30, 500, 30000ms},    // exactly 30 s
      {30000ms, 4000, 64, 700, 89600ms},    // 64 * 700 * 8 / 4000
      {30000ms, 0, 1000, 1500, 30000ms},    // no limit
      {100ms, 4000, 1, 1000, 2000ms},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vl_sap_announce_interval(c.base, c.bps, c.streams, c.bytes), c.expected)
        << c.streams << " x " << c.bytes;
}

}  // namespace
