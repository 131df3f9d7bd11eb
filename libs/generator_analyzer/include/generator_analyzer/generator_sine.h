// The sine generator "GeneratorSine": one channel of a full-scale sine at the
// frequency of its "function" ({"freq": [nom, den]} in Hz), whose phase at
// every frame is given by the frame's media timestamp alone.
#pragma once

#include "generator_analyzer/vl_generator.h"

extern const VlMediadrvTypeDescriptor vl_generator_sine_ts;

class VlGeneratorSine final : public VlGenerator {
 public:
  VlGeneratorSine(VlTestDeviceParts parts, vl_rational frequency);

  const VlTypeDescriptor& type() const override { return vl_generator_sine_ts; }
  const char* name() override { return "GeneratorSine"; }
  bool store(json_t* json) const override;
  uint32_t generate(uint32_t ts, uint32_t frames) override;

  vl_rational frequency() const { return frequency_; }

 private:
  vl_rational frequency_;
  double step_;  // radians per frame
};

// Null with errno: EINVAL (rate, block size or frequency), ENODEV (no clock
// reference), ENOMEM.
VlGeneratorSine* vl_generator_sine_ctor(vl_rational rate, uint32_t block_frames, const json_t* function);
