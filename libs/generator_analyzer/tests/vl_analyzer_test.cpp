#include "generator_analyzer/vl_analyzer.h"

#include "vltest/log_capture.h"
#include "vltest/manual_clock.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr vl_rational rate = {48000, 1};
constexpr uint64_t second = 1000000000ULL;

// Records what it is asked to analyze.
class Recording : public VlAnalyzer {
 public:
  explicit Recording(VlTestDeviceParts parts) : VlAnalyzer(std::move(parts)) {}
  const char* name() override { return "Recording"; }
  void analyze(uint32_t ts, uint32_t frames) override {
    calls.push_back({ts, frames, samples()[0]});
  }
  struct Call {
    uint32_t ts;
    uint32_t frames;
    int32_t first;
    bool operator==(const Call&) const = default;
  };
  std::vector<Call> calls;
};

class Analyzer : public ::testing::Test {
 protected:
  void SetUp() override {
    VlTestDeviceParts parts;
    ASSERT_TRUE(vl_test_device_prepare(rate, 256, 1, &parts));
    analyzer_ = std::make_unique<Recording>(std::move(parts));
    play_ = vl_mediadrv_audio_play_ifc(analyzer_.get());
  }

  vltest::ManualClock clock_{"PTPv2 0", 10 * second};
  std::unique_ptr<Recording> analyzer_;
  VlPlayIfc* play_ = nullptr;
};

TEST_F(Analyzer, EveryWriteWithinTheBlockIsAnalyzedAtOnce) {
  VlMediaWindow window = play_->initialise_write(5000);
  EXPECT_EQ(window.frames, 256);
  window.samples[0] = 42;
  EXPECT_EQ(play_->complete_write(5000, window.samples, 100), 0);
  window = play_->initialise_write(5100);
  window.samples[0] = 43;
  EXPECT_EQ(play_->complete_write(5100, window.samples, 256), 0);
  EXPECT_EQ(play_->complete_write(5356, window.samples, 300), 44);
  EXPECT_EQ(analyzer_->calls, (std::vector<Recording::Call>{{5000, 100, 42}, {5100, 256, 43}}));
}

class Bare : public VlAnalyzer {
 public:
  explicit Bare(VlTestDeviceParts parts) : VlAnalyzer(std::move(parts)) {}
  const char* name() override { return "Bare"; }
};

TEST(AnalyzerDeathTest, AnalyzeIsAbstract) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  vltest::ManualClock clock("PTPv2 0");
  VlTestDeviceParts parts;
  ASSERT_TRUE(vl_test_device_prepare(rate, 128, 1, &parts));
  Bare bare(std::move(parts));
  EXPECT_DEATH((vltest::log_to_stderr(), vl_analyzer_analyze(&bare, 0, 1)),
               "pure virtual function call in vl_analyzer_analyze!");
}

}  // namespace
