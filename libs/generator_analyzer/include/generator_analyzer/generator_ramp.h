// The ramp generator "GeneratorRamp": every frame carries its own media
// timestamp in the upper 16 bits, so that a receiver can check the exact
// timing of what arrives (see the ramp analyzer).
//
// One channel unless its "function" says {"channels": N} (1 to 64): then
// channel c carries the ramp c * 4096 frames ahead, with c in bits 8 to 15,
// so that a receiver can tell every channel and its position even after
// the payload kept only the upper 16 bits. Channel 0 is the plain ramp.
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

inline constexpr uint32_t vl_generator_ramp_max_channels = 64;
inline constexpr uint32_t vl_generator_ramp_channel_step = 4096;

// Null with errno: EINVAL (rate, block size or channel count), ENODEV (no
// clock reference), ENOMEM.
VlGeneratorRamp* vl_generator_ramp_ctor(vl_rational rate, uint32_t block_frames, const json_t* function);
