#include "generator_analyzer/generator_sine.h"

#include "vlsys/vl_log.h"

#include <cerrno>
#include <cmath>
#include <new>
#include <numbers>

namespace {

VL_LOG_CATEGORY(category, "velanto.generator")

// The [nom, den] of "freq"; 0/0 when it is missing or malformed.
vl_rational frequency_from(const json_t* function) {
  json_int_t nom = 0;
  json_int_t den = 0;
  const json_t* freq = json_object_get(function, "freq");
  if (!freq || json_unpack(const_cast<json_t*>(freq), "[II!]", &nom, &den) != 0) return {0, 0};
  const auto fits = [](json_int_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
  if (!fits(nom) || !fits(den)) return {0, 0};
  return {static_cast<int32_t>(nom), static_cast<int32_t>(den)};
}

double to_double(vl_rational r) { return static_cast<double>(r.nom) / static_cast<double>(r.den); }

// Cycles per frame: the exact quotient where it can be reduced, else in
// floating point.
double cycles_per_frame(vl_rational frequency, vl_rational rate) {
  const vl_rational quotient = vl_rational_div(frequency, rate);
  if (quotient.den != 0) return to_double(quotient);
  return to_double(frequency) / to_double(rate);
}

VlObject* load(const json_t* json) {
  VlTestDeviceConfig config{};
  if (!vl_test_device_read_config(json, category(), &config)) return nullptr;
  VlGeneratorSine* generator = vl_generator_sine_ctor(config.rate, config.block_frames, config.function);
  if (!generator) VL_LOG(category(), VL_LOG_ERROR, "vl_generator_sine_ctor failed with errno %d", errno);
  return generator;
}

void devicelist(json_t* array) {
  vl_test_device_list_entry(array, vl_generator_sine_ts.type_name, "GeneratorSine", 0, 1);
}

}  // namespace

const VlMediadrvTypeDescriptor vl_generator_sine_ts = {{&vl_generator_ts, "VlGeneratorSine", load}, devicelist};

VlGeneratorSine::VlGeneratorSine(VlTestDeviceParts parts, vl_rational frequency)
    : VlGenerator(std::move(parts)),
      frequency_(frequency),
      step_(2.0 * std::numbers::pi * cycles_per_frame(frequency, properties().rate)) {}

bool VlGeneratorSine::store(json_t* json) const {
  return VlGenerator::store(json) &&
         json_object_set_new(json, "freq",
                             json_pack("{s:s, s:[i, i]}", "name", "sine", "freq", frequency_.nom, frequency_.den)) ==
             0;
}

uint32_t VlGeneratorSine::generate(uint32_t ts, uint32_t frames) {
  int32_t* out = samples();
  const uint32_t stride = channels();
  const double start = static_cast<double>(ts) * step_;
  for (uint32_t k = 0; k < frames; ++k) {
    const double angle = start + static_cast<double>(k) * step_;
    const auto sample = static_cast<int32_t>(std::sin(angle) * 2147483647.0);
    for (uint32_t c = 0; c < stride; ++c) out[k * stride + c] = sample;
  }
  return frames;
}

VlGeneratorSine* vl_generator_sine_ctor(vl_rational rate, uint32_t block_frames, const json_t* function) {
  const vl_rational frequency = frequency_from(function);
  // A negative frequency is no tone either.
  if (frequency.nom <= 0 || frequency.den <= 0) {
    VL_LOG(category(), VL_LOG_ERROR, "Illegal frequency given: %u/%u Hz", static_cast<unsigned>(frequency.nom),
           static_cast<unsigned>(frequency.den));
    errno = EINVAL;
    return nullptr;
  }
  VlTestDeviceParts parts;
  if (!vl_test_device_prepare(rate, block_frames, 1, &parts)) return nullptr;
  auto* generator = new (std::nothrow) VlGeneratorSine(std::move(parts), frequency);
  if (!generator) errno = ENOMEM;
  return generator;
}
