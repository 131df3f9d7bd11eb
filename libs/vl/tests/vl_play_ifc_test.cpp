#include "vl/vl_play_ifc.h"

#include "vltest/log_capture.h"
#include "vltest/ring_driver.h"
#include "vltest/wait.h"
#include "vltest/window_sites.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

class PlayWindow : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(play_, nullptr); }

  int32_t* ring_frame(uint32_t index) const { return const_cast<int32_t*>(driver_.play_ring()) + index * 2; }

  vltest::WindowSites sites_;
  vltest::LogCapture log_;
  vltest::RingDriver driver_;
  VlPlayIfc* play_ = vl_mediadrv_audio_play_ifc(&driver_);
};

TEST_F(PlayWindow, WrittenSamplesAreWhatIsPlayed) {
  driver_.set_current_timestamp(1000);
  const VlMediaWindow window = vl_play_initialise_write("r1", play_, 1048);
  ASSERT_EQ(window.frames, 48);
  for (int k = 0; k < 48; ++k) window.samples[k * 2 + 1] = 7 * k;
  EXPECT_EQ(vl_play_complete_write("r1", play_, 1048, window.samples, 48), 0);
  EXPECT_EQ(driver_.played_sample(1048 + 5, 1), 35);
  EXPECT_EQ(driver_.played(1048, 3, 0), (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(driver_.completed_writes(), 1);
}

TEST_F(PlayWindow, AWriteOvertakenByThePlayPositionIsReported) {
  driver_.set_current_timestamp(1000);
  const VlMediaWindow window = vl_play_initialise_write("r1", play_, 1048);
  driver_.advance(58);
  EXPECT_EQ(vl_play_complete_write("r1", play_, 1048, window.samples, 48), -10);
  EXPECT_TRUE(log_.contains(
      "vl_play_complete_write for stream r1: Timestamp 0x00000418 is out of bounds by -10 frames (late)."));
}

TEST_F(PlayWindow, AStoppingDriverRefusesWrites) {
  driver_.set_current_timestamp(1000);
  driver_.set_stopping(true);
  const VlMediaWindow window = vl_play_initialise_write("r1", play_, 1048);
  EXPECT_EQ(window.samples, nullptr);
  EXPECT_EQ(window.frames, 0);
  EXPECT_TRUE(log_.contains(
      "vl_play_initialise_write for stream r1: Timestamp 0x00000418 is out of bounds by 0 frames (early)."));
  EXPECT_EQ(vl_play_complete_write("r1", play_, 1048, nullptr, 48), 0);
}

// Refused at packet rate, a write is reported once a second, and the next
// report says how many were held back meanwhile.
TEST_F(PlayWindow, ReportsSayHowManyWereHeldBack) {
  driver_.set_current_timestamp(1000);
  const std::string refused = "vl_play_initialise_write for stream r1: Timestamp 0x000003de is out of bounds";
  ASSERT_TRUE(vltest::wait_until(
      [&] {
        vl_play_initialise_write("r1", play_, 990);
        return log_.count(refused) == 2;
      },
      std::chrono::seconds(3), std::chrono::milliseconds(10)));
  const auto records = log_.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].message.find("suppressed"), std::string::npos);
  EXPECT_NE(records[1].message.find("frames (late). ("), std::string::npos) << records[1].message;
  EXPECT_NE(records[1].message.find(" similar messages suppressed)"), std::string::npos) << records[1].message;
}

// The window refuses with a usable pointer and a negative count: a packet
// that comes after its frames were played (too small a delay) or so far
// ahead that it would overwrite frames still to be played.
struct Refusal {
  const char* name;
  uint32_t ts;
  int32_t frames;
  const char* message;
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

std::string refusal_name(const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; }

class RefusedWrite : public PlayWindow, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedWrite, IsReported) {
  driver_.set_current_timestamp(1000);
  const VlMediaWindow window = vl_play_initialise_write("r1", play_, GetParam().ts);
  EXPECT_EQ(window.frames, GetParam().frames);
  EXPECT_TRUE(log_.contains(GetParam().message)) << GetParam().message;
}

INSTANTIATE_TEST_SUITE_P(
    PlayWindow, RefusedWrite,
    ::testing::Values(Refusal{"AlreadyPlayed", 990, -10,
                              "vl_play_initialise_write for stream r1: Timestamp 0x000003de is out of bounds by -10 "
                              "frames (late)."},
                      Refusal{"BeyondTheUnplayedLap", 1000 + 8192 + 5, -5,
                              "vl_play_initialise_write for stream r1: Timestamp 0x000023ed is out of bounds by -5 "
                              "frames (early)."}),
    refusal_name);

}  // namespace
