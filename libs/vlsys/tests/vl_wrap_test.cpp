#include "vlsys/vl_wrap.h"

#include <gtest/gtest.h>

namespace {

TEST(Wrap, TimestampDistancesAcrossTheWrap) {
  struct Case {
    uint32_t from, to;
    uint32_t ahead;
    int32_t delta;
    uint32_t distance;
  };
  const Case cases[] = {
      {10, 20, 10, 10, 10},
      {20, 10, 0xFFFFFFF6u, -10, 10},
      {0xFFFFFFF0u, 0x10, 0x20, 0x20, 0x20},
      {0x10, 0xFFFFFFF0u, 0xFFFFFFE0u, -0x20, 0x20},
      {0, 0x80000000u, 0x80000000u, INT32_MIN, 0x80000000u},
      {0x7FFFFFFFu, 0x80000001u, 2, 2, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vl_ts_ahead(c.from, c.to), c.ahead) << c.from << " " << c.to;
    EXPECT_EQ(vl_ts_delta(c.from, c.to), c.delta) << c.from << " " << c.to;
    EXPECT_EQ(vl_ts_distance(c.from, c.to), c.distance) << c.from << " " << c.to;
  }
}

TEST(Wrap, SequenceDistancesAcrossTheWrap) {
  EXPECT_EQ(vl_seq_ahead(65535, 0), 1);
  EXPECT_EQ(vl_seq_ahead(13, 12), 65535);
  EXPECT_EQ(vl_seq_delta(65535, 0), 1);
  EXPECT_EQ(vl_seq_delta(0, 65535), -1);
  EXPECT_EQ(vl_seq_delta(13, 5013), 5000);
}

}  // namespace
