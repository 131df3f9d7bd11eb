#include "generator_analyzer/analyzer_ramp.h"

#include "vlsys/vl_log.h"
#include "vltest/log_capture.h"
#include "vltest/manual_clock.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr vl_rational rate = {48000, 1};
constexpr uint32_t block = 64;

class RampAnalyzer : public ::testing::Test {
 protected:
  void SetUp() override {
    vl_log_priority_set("velanto.analyzer", VL_LOG_DEBUG);
    analyzer_.reset(vl_analyzer_ramp_ctor(rate, block, nullptr));
    ASSERT_NE(analyzer_, nullptr);
    play_ = vl_mediadrv_audio_play_ifc(analyzer_.get());
    ASSERT_NE(play_, nullptr);
  }

  // Writes one block at ts whose frame k carries source_ts + k in its upper half.
  void write_ramp(uint32_t ts, uint32_t source_ts, uint32_t frames = block) {
    write(ts, frames, [&](uint32_t k) { return static_cast<int32_t>((source_ts + k) << 16); });
  }
  void write_zeros(uint32_t ts) {
    write(ts, block, [](uint32_t) { return 0; });
  }
  template <typename Sample>
  void write(uint32_t ts, uint32_t frames, Sample sample) {
    const VlMediaWindow window = play_->initialise_write(ts);
    ASSERT_GE(window.frames, static_cast<int32_t>(frames));
    for (uint32_t k = 0; k < frames; ++k) window.samples[k] = sample(k);
    ASSERT_EQ(play_->complete_write(ts, window.samples, static_cast<int32_t>(frames)), 0);
  }

  vltest::LogCapture log_;
  vltest::ManualClock clock_{"PTPv2 0"};
  std::unique_ptr<VlAnalyzerRamp> analyzer_;
  VlPlayIfc* play_ = nullptr;
};

TEST_F(RampAnalyzer, ACleanRampSetsTheOffsetOnceAndThenMatches) {
  for (uint32_t i = 0; i < 10; ++i) write_ramp(1000 + i * block, 1100 + i * block);
  EXPECT_EQ(analyzer_->mismatches(), 1u);  // the initial offset
  EXPECT_EQ(analyzer_->offset(), 100);
  EXPECT_EQ(analyzer_->last_good_timestamp(), 1000 + 10 * block - 1);
  EXPECT_EQ(analyzer_->next_timestamp(), 1000 + 10 * block);
  EXPECT_FALSE(analyzer_->silence());
  EXPECT_EQ(log_.count("offset was"), 1);
  EXPECT_TRUE(log_.contains("At timestamp 1000 offset was 0 set to 100"));
}

TEST_F(RampAnalyzer, AJumpIsOneMismatchAndTheNewOffsetIsAccepted) {
  write_ramp(1000, 1100);
  write_ramp(1000 + block, 1100 + block + 10);  // ten frames skipped
  write_ramp(1000 + 2 * block, 1100 + 2 * block + 10);
  EXPECT_EQ(analyzer_->mismatches(), 2u);
  EXPECT_EQ(analyzer_->offset(), 110);
  EXPECT_TRUE(log_.contains("At timestamp 1064 offset was 100 set to 110"));
  EXPECT_EQ(log_.count("offset was"), 2);
  EXPECT_EQ(analyzer_->last_good_timestamp(), 1000 + 3 * block - 1);
}

TEST_F(RampAnalyzer, TheZeroUpperHalfOfAWrappingRampIsGood) {
  write_ramp(65535 - 1 + 200, 65535 - 1);  // offset -200: 0xFF38
  EXPECT_EQ(analyzer_->offset(), 0xFF38);
  write_ramp(65535 - 1 + 200 + block, 65535 - 1 + block);
  EXPECT_EQ(analyzer_->mismatches(), 1u);
  EXPECT_FALSE(analyzer_->silence());
  EXPECT_EQ(log_.count("silence"), 0);
}

TEST_F(RampAnalyzer, ABlockOfZerosAfterAGoodBlockIsSilence) {
  write_ramp(1000, 1100);
  write_zeros(1000 + block);
  EXPECT_TRUE(analyzer_->silence());
  EXPECT_TRUE(log_.contains("At timestamp 1064 silence started"));
  EXPECT_EQ(analyzer_->mismatches(), 1u);
  write_zeros(1000 + 2 * block);
  EXPECT_TRUE(analyzer_->silence());
  EXPECT_EQ(log_.count("silence started"), 1);
  // The ramp comes back at a new offset.
  write_ramp(1000 + 3 * block, 1000 + 3 * block + 7);
  EXPECT_TRUE(log_.contains("At timestamp 1192 silence stopped"));
  EXPECT_FALSE(analyzer_->silence());
  EXPECT_EQ(analyzer_->mismatches(), 2u);
  EXPECT_EQ(analyzer_->offset(), 7);
}

TEST_F(RampAnalyzer, AttributesAreReadThroughTheControllable) {
  write_ramp(1000, 1100);
  VlJsonRef last_good(vl_controllable_get_attr(analyzer_.get(), 1));
  VlJsonRef mismatches(vl_controllable_get_attr(analyzer_.get(), 2));
  VlJsonRef offset(vl_controllable_get_attr(analyzer_.get(), 3));
  EXPECT_EQ(json_integer_value(last_good.get()), 1000 + block - 1);
  EXPECT_EQ(json_integer_value(mismatches.get()), 1);
  EXPECT_EQ(json_integer_value(offset.get()), 100);
  EXPECT_EQ(vl_controllable_get_attr(analyzer_.get(), 4), nullptr);
  EXPECT_EQ(vl_controllable_get_attr(analyzer_.get(), 0), nullptr);

  const int ids[] = {3, 9, 1};
  VlJsonRef group(vl_controllable_get_group(analyzer_.get(), ids, 3));
  VlJsonRef expected(json_pack("[i, n, i]", 100, 1000 + block - 1));
  EXPECT_TRUE(json_equal(group.get(), expected.get()));
  VlJsonRef empty(vl_controllable_get_group(analyzer_.get(), ids, 0));
  EXPECT_EQ(json_array_size(empty.get()), 0u);
  EXPECT_EQ(vl_controllable_get_group(analyzer_.get(), nullptr, 2), nullptr);
}

TEST_F(RampAnalyzer, DestructionReportsMismatches) {
  write_ramp(1000, 1100);
  testing::internal::CaptureStdout();
  analyzer_.reset();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "vl_analyzer_ramp_dtor found 1 mismatches\n");
  EXPECT_TRUE(
      log_.contains("vl_analyzer_ramp result on destruction: last_good_ts=1063 mismatch=1 offset=100"));
}

}  // namespace
