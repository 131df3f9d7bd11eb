#include "vl/vl_ring_window.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

constexpr uint32_t n = 8192;

struct Expected {
  bool servable;
  uint32_t index;
  int32_t frames;
};

void expect_window(const VlRingWindow& window, const Expected& expected) {
  EXPECT_EQ(window.servable, expected.servable);
  EXPECT_EQ(window.index, expected.index);
  EXPECT_EQ(window.frames, expected.frames);
}

TEST(RingWindowRead, WithinTheCurrentLap) {
  expect_window(vl_ring_read_window(900, 1000, n), {true, 900, 100});
  expect_window(vl_ring_read_window(1000, 1000, n), {true, 1000, 0});
  expect_window(vl_ring_read_window(1100, 1000, n), {true, 1100, -100});
}

TEST(RingWindowRead, FromThePreviousLapStopsAtTheRingEnd) {
  expect_window(vl_ring_read_window(8100, 8292, n), {true, 8100, 92});
  expect_window(vl_ring_read_window(8192, 8292, n), {true, 0, 100});
}

TEST(RingWindowRead, AcrossTheTimestampWrap) {
  expect_window(vl_ring_read_window(4294967290U, 10, n), {true, 8186, 6});
  expect_window(vl_ring_read_window(0, 10, n), {true, 0, 10});
}

TEST(RingWindowRead, FutureFramesInTheNextLapAreEarly) {
  // Just before a lap boundary the next lap holds only old samples.
  expect_window(vl_ring_read_window(8200, 8190, n), {true, 8, -10});
  expect_window(vl_ring_read_window(9000, 1000, n), {true, 808, -8000});
}

TEST(RingWindowRead, OverwrittenFramesCannotBeServed) {
  expect_window(vl_ring_read_window(1000, 1000 + n, n), {true, 1000, n - 1000});
  expect_window(vl_ring_read_window(999, 1000 + n, n), {false, 999, 1});
  expect_window(vl_ring_read_window(0, 3 * n, n), {false, 0, static_cast<int32_t>(2 * n)});
}

TEST(RingWindowWrite, LeadOverThePlayPosition) {
  expect_window(vl_ring_write_window(1048, 1000, n), {true, 1048, 48});
  expect_window(vl_ring_write_window(1000, 1000, n), {true, 1000, 0});
  expect_window(vl_ring_write_window(990, 1000, n), {true, 990, -10});
}

TEST(RingWindowWrite, StopsAtTheRingEnd) {
  expect_window(vl_ring_write_window(8100, 8000, n), {true, 8100, 92});
  expect_window(vl_ring_write_window(8192, 8000, n), {true, 0, 192});
}

TEST(RingWindowWrite, PlayedFramesAtALapStartStayLate) {
  expect_window(vl_ring_write_window(8192, 8202, n), {true, 0, -10});
  expect_window(vl_ring_write_window(8195, 8202, n), {true, 3, -7});
}

TEST(RingWindowWrite, NeverReachesFramesStillToBePlayed) {
  // A lead above half the ring is cut at C + N.
  expect_window(vl_ring_write_window(5000, 0, n), {true, 5000, 3192});
  expect_window(vl_ring_write_window(8192, 0, n), {true, 0, 0});
  expect_window(vl_ring_write_window(8192 + 6000, 6000, n), {true, 6000, 0});
  expect_window(vl_ring_write_window(20000, 1000, n), {true, 3616, static_cast<int32_t>(n) - 19000});
  expect_window(vl_ring_write_window(10000, 5000, n), {true, 1808, 3192});
}

TEST(RingWindowOverrun, ReadsWithinTheWindowAreInBounds) {
  EXPECT_EQ(vl_ring_read_overrun(900, 100, 1000, n), 0);
  EXPECT_EQ(vl_ring_read_overrun(900, 100, 1500, n), 0);
  EXPECT_EQ(vl_ring_read_overrun(900, 0, 1000, n), 0);
  EXPECT_EQ(vl_ring_read_overrun(4294967290U, 6, 10, n), 0);
}

TEST(RingWindowOverrun, ReadsPastTheCaptureOrOverwrittenAreOutOfBounds) {
  EXPECT_EQ(vl_ring_read_overrun(900, 150, 1000, n), -50);
  EXPECT_EQ(vl_ring_read_overrun(900, 100, 900 + n + 20, n), 20);
}

TEST(RingWindowOverrun, WritesAheadOfThePlayPositionAreInBounds) {
  EXPECT_EQ(vl_ring_write_overrun(1048, 48, 1000, n), 0);
  EXPECT_EQ(vl_ring_write_overrun(1048, 48, 1048, n), 0);
  EXPECT_EQ(vl_ring_write_overrun(1048, 48, 1058, n), -10);
  EXPECT_EQ(vl_ring_write_overrun(1000 + n - 10, 20, 1000, n), 10);
}

// Half the timestamp range away, a distance plus a count no longer fits 32
// bits: the result saturates and keeps its direction.
TEST(RingWindowOverrun, FarOffAccessesAreOutOfBoundsWithoutOverflow) {
  EXPECT_EQ(vl_ring_read_overrun(1000 + 0x80000000U, 1, 1000, n), INT32_MIN);
  EXPECT_EQ(vl_ring_read_overrun(1000 + 0x7FFFFFFBU, 10, 1000, n), INT32_MIN);
  EXPECT_EQ(vl_ring_read_overrun(1000 - 0x7FFFFFFFU, 1, 1000, n), INT32_MAX - static_cast<int32_t>(n));
  EXPECT_EQ(vl_ring_write_overrun(1000 + 0x7FFFF000U, 16384, 1000, n), INT32_MAX);
  EXPECT_EQ(vl_ring_write_overrun(1000 + 0x80000000U, 1, 1000, n), INT32_MIN);
}

TEST(RingWindowSize, PowersOfTwoOnly) {
  EXPECT_TRUE(vl_ring_size_valid(8192));
  EXPECT_TRUE(vl_ring_size_valid(1));
  EXPECT_FALSE(vl_ring_size_valid(0));
  EXPECT_FALSE(vl_ring_size_valid(8000));
  EXPECT_FALSE(vl_ring_size_valid(1U << 31));
}

}  // namespace
