#include "generator_analyzer/generator_ramp.h"

#include "vltest/manual_clock.h"

#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <memory>

namespace {

constexpr vl_rational rate = {48000, 1};

TEST(RampGenerator, UpperHalvesAreTheLowBitsOfEachTimestamp) {
  vltest::ManualClock clock("PTPv2 0");
  std::unique_ptr<VlGeneratorRamp> generator(vl_generator_ramp_ctor(rate, 1024, nullptr));
  ASSERT_NE(generator, nullptr);
  const VlMediaWindow window = generator->get_capture_ifc()->initialise_read(65535);
  ASSERT_EQ(window.frames, 1024);
  EXPECT_EQ(static_cast<uint32_t>(window.samples[0]), 0xFFFF0000U);
  EXPECT_EQ(static_cast<uint32_t>(window.samples[1]), 0x00000000U);
  EXPECT_EQ(static_cast<uint32_t>(window.samples[2]), 0x00010000U);
  EXPECT_EQ(static_cast<uint32_t>(window.samples[1023]), 1022U << 16);
}

TEST(RampGenerator, EachBlockDependsOnlyOnItsTimestamp) {
  vltest::ManualClock clock("PTPv2 0");
  std::unique_ptr<VlGeneratorRamp> generator(vl_generator_ramp_ctor(rate, 128, nullptr));
  ASSERT_NE(generator, nullptr);
  VlCaptureIfc* capture = generator->get_capture_ifc();
  capture->initialise_read(1);
  const VlMediaWindow window = capture->initialise_read(0xABCD0000U + 7);
  EXPECT_EQ(window.samples[0], 7 << 16);
  EXPECT_EQ(window.samples[127], (7 + 127) << 16);
  EXPECT_STREQ(vl_mediadrv_name(generator.get()), "GeneratorRamp");
}

TEST(RampGenerator, ChannelsOfTheFunctionCarryTheRampAheadAndTheirNumber) {
  vltest::ManualClock clock("PTPv2 0");
  const VlJsonRef function(json_pack("{s:i}", "channels", 8));
  std::unique_ptr<VlGeneratorRamp> generator(vl_generator_ramp_ctor(rate, 128, function.get()));
  ASSERT_NE(generator, nullptr);
  EXPECT_EQ(generator->properties().channels, 8U);
  const VlMediaWindow window = generator->get_capture_ifc()->initialise_read(0xFFFF);
  EXPECT_EQ(static_cast<uint32_t>(window.samples[0]), 0xFFFF0000U);
  EXPECT_EQ(static_cast<uint32_t>(window.samples[7]), 0x6FFF0700U);
  EXPECT_EQ(static_cast<uint32_t>(window.samples[8 + 1]), 0x10000100U);
}

TEST(RampGenerator, ChannelCountsOutsideOneTo64AreRefused) {
  vltest::ManualClock clock("PTPv2 0");
  for (const char* function : {R"({"channels": 0})", R"({"channels": 65})", R"({"channels": "8"})"}) {
    const VlJsonRef json(json_loads(function, 0, nullptr));
    errno = 0;
    EXPECT_EQ(std::unique_ptr<VlGeneratorRamp>(vl_generator_ramp_ctor(rate, 128, json.get())), nullptr) << function;
    EXPECT_EQ(errno, EINVAL) << function;
  }
}

}  // namespace
