#include "generator_analyzer/generator_sine.h"

#include "vltest/log_capture.h"
#include "vltest/manual_clock.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace {

constexpr vl_rational rate = {48000, 1};

std::vector<int32_t> block_at(VlGeneratorSine& generator, uint32_t ts) {
  const VlMediaWindow window = generator.get_capture_ifc()->initialise_read(ts);
  return {window.samples, window.samples + window.frames};
}

class SineGenerator : public ::testing::Test {
 protected:
  std::unique_ptr<VlGeneratorSine> make(const char* function_json, uint32_t block = 256) {
    VlJsonRef function(json_loads(function_json, 0, nullptr));
    return std::unique_ptr<VlGeneratorSine>(vl_generator_sine_ctor(rate, block, function.get()));
  }

  vltest::LogCapture log_;
  vltest::ManualClock clock_{"PTPv2 0"};
};

TEST_F(SineGenerator, EveryFrameIsTheSineOfItsTimestamp) {
  auto generator = make(R"({"freq": [1000, 1]})");
  ASSERT_NE(generator, nullptr);
  const std::vector<int32_t> block = block_at(*generator, 123456);
  ASSERT_EQ(block.size(), 256u);
  const double step = 2.0 * std::numbers::pi / 48.0;
  for (uint32_t k : {0U, 1U, 12U, 255U}) {
    const double angle = 123456.0 * step + k * step;
    EXPECT_EQ(block[k], static_cast<int32_t>(std::sin(angle) * 2147483647.0)) << "frame " << k;
  }
}

TEST_F(SineGenerator, SameTimestampSameSamples) {
  auto first = make(R"({"freq": [1000, 1]})");
  auto second = make(R"({"freq": [1000, 1]})");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  const std::vector<int32_t> a = block_at(*first, 4000000000U);
  block_at(*first, 17);  // whatever was read in between
  EXPECT_EQ(block_at(*first, 4000000000U), a);
  EXPECT_EQ(block_at(*second, 4000000000U), a);
  EXPECT_NE(block_at(*first, 4000000001U), a);
}

TEST_F(SineGenerator, RefusesFrequenciesThatAreNoTone) {
  for (const char* function : {R"({"freq": [0, 1]})", R"({"freq": [1000, 0]})", R"({"freq": [-1000, 1]})",
                               R"({"freq": [1000]})", R"({"freq": "1000"})", R"({"freq": [4294968296, 1]})",
                               R"({})"}) {
    errno = 0;
    EXPECT_EQ(make(function), nullptr) << function;
    EXPECT_EQ(errno, EINVAL) << function;
  }
  EXPECT_TRUE(log_.contains("Illegal frequency given: 0/1 Hz"));
  EXPECT_TRUE(log_.contains("Illegal frequency given: 1000/0 Hz"));
  EXPECT_TRUE(log_.contains("Illegal frequency given: 0/0 Hz"));
  EXPECT_EQ(vl_generator_sine_ctor(rate, 256, nullptr), nullptr);
}

TEST_F(SineGenerator, StoresItsFrequency) {
  auto generator = make(R"({"freq": [440, 1]})");
  ASSERT_NE(generator, nullptr);
  VlJsonRef saved(vl_object_save(generator.get()));
  ASSERT_TRUE(saved);
  VlJsonRef expected(json_pack("{s:s, s:i, s:i, s:[i], s:{s:s, s:[i, i]}}", "typename", "VlGeneratorSine",
                               "minAudioLatency", 1, "maxAudioLatency", 256, "sampleRate", 48000, "freq", "name",
                               "sine", "freq", 440, 1));
  EXPECT_TRUE(json_equal(saved.get(), expected.get()));
  EXPECT_STREQ(vl_mediadrv_name(generator.get()), "GeneratorSine");
}

}  // namespace
