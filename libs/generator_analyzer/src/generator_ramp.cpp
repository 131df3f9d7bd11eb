#include "generator_analyzer/generator_ramp.h"

#include "vlsys/vl_log.h"

#include <cerrno>
#include <new>

namespace {

VL_LOG_CATEGORY(category, "velanto.generator")

VlObject* load(const json_t* json) {
  VlTestDeviceConfig config{};
  if (!vl_test_device_read_config(json, category(), &config)) return nullptr;
  VlGeneratorRamp* generator = vl_generator_ramp_ctor(config.rate, config.block_frames, config.function);
  if (!generator) VL_LOG(category(), VL_LOG_ERROR, "vl_generator_ramp_ctor failed with errno %d", errno);
  return generator;
}

void devicelist(json_t* array) {
  vl_test_device_list_entry(array, vl_generator_ramp_ts.type_name, "GeneratorRamp", 0, 1);
}

}  // namespace

const VlMediadrvTypeDescriptor vl_generator_ramp_ts = {{&vl_generator_ts, "VlGeneratorRamp", load}, devicelist};

uint32_t VlGeneratorRamp::generate(uint32_t ts, uint32_t frames) {
  int32_t* out = samples();
  const uint32_t stride = channels();
  for (uint32_t k = 0; k < frames; ++k) {
    for (uint32_t c = 0; c < stride; ++c)
      out[k * stride + c] = static_cast<int32_t>(((ts + k + c * vl_generator_ramp_channel_step) << 16) | (c << 8));
  }
  return frames;
}

VlGeneratorRamp* vl_generator_ramp_ctor(vl_rational rate, uint32_t block_frames, const json_t* function) {
  const json_t* count = json_object_get(function, "channels");
  const json_int_t channels = count ? json_integer_value(count) : 1;
  if (channels < 1 || channels > static_cast<json_int_t>(vl_generator_ramp_max_channels)) {
    errno = EINVAL;
    return nullptr;
  }
  VlTestDeviceParts parts;
  if (!vl_test_device_prepare(rate, block_frames, static_cast<uint32_t>(channels), &parts)) return nullptr;
  auto* generator = new (std::nothrow) VlGeneratorRamp(std::move(parts));
  if (!generator) errno = ENOMEM;
  return generator;
}
