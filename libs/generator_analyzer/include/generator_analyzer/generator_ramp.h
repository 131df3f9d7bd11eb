// The ramp generator "GeneratorRamp": every frame carries its own media
// timestamp in the upper 16 bits, so that a receiver can check the exact
// timing of what arrives (see the ramp analyzer).
#pragma once

#include "generator_analyzer/vl_generator.h"

extern const VlMediadrvTypeDescriptor vl_generator_ramp_ts;

class VlGeneratorRamp final : public VlGenerator {
 public:
  explicit VlGeneratorRamp(VlTestDeviceParts parts) : VlGenerator(std::move(parts)) {}

  const VlTypeDescriptor& type() const override { return vl_generator_ramp_ts; }
  const char* name() override { return "GeneratorRamp"; }
  uint32_t generate(uint32_t ts, uint32_t frames) override;
};

// Null with errno: EINVAL (rate or block size), ENODEV (no clock reference),
// ENOMEM. The function is not used.
VlGeneratorRamp* vl_generator_ramp_ctor(vl_rational rate, uint32_t block_frames, const json_t* function);
