#include "generator_analyzer/generator_ramp.h"

#include "vltest/manual_clock.h"

#include <gtest/gtest.h>

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

}  // namespace
