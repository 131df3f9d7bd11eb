#include "generator_analyzer/vl_test_device.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json_ref.h"

#include <cerrno>
#include <cstdint>
#include <new>

namespace {

constexpr vl_rational default_rate = {48000, 1};

// 0 (or absent) selects the default; sizes that cannot be one give 0, which
// the constructors refuse.
uint32_t block_frames_from(const json_t* value) {
  if (!json_is_integer(value)) return vl_test_device_default_block_frames;
  const json_int_t frames = json_integer_value(value);
  if (frames == 0) return vl_test_device_default_block_frames;
  if (frames < 0 || frames > static_cast<json_int_t>(vl_test_device_max_block_frames)) return 0;
  return static_cast<uint32_t>(frames);
}

bool rate_from(const json_t* value, vl_rational* rate) {
  *rate = default_rate;
  if (!value) return true;
  json_int_t nom = 0;
  json_int_t den = 0;
  if (json_unpack(const_cast<json_t*>(value), "[II!]", &nom, &den) != 0) return false;
  // Rates divide periods and timestamps: zero, negative and out-of-range
  // ones are refused rather than truncated.
  if (nom <= 0 || den <= 0 || nom > INT32_MAX || den > INT32_MAX) return false;
  *rate = {static_cast<int32_t>(nom), static_cast<int32_t>(den)};
  return true;
}

}  // namespace

bool vl_test_device_read_config(const json_t* json, log4c_category_t* category, VlTestDeviceConfig* config) {
  const json_t* configuration = json_object_get(json, "configuration");
  if (!rate_from(json_object_get(configuration, "sampleRate"), &config->rate)) {
    VL_LOG(category, VL_LOG_ERROR, "Illegal sample rate given");
    return false;
  }
  config->block_frames = block_frames_from(json_object_get(configuration, "audioBlockSize"));
  config->function = json_object_get(configuration, "function");
  return true;
}

void vl_test_device_list_entry(json_t* array, const char* type_name, const char* device_name, int play_channels,
                               int capture_channels) {
  VlJsonRef entry(json_pack("{s:s, s:s, s:{s:i, s:i, s:[i]}}", "typename", type_name, "devicename", device_name,
                            "properties", "channelCountPlay", play_channels, "channelCountCapture",
                            capture_channels, "sampleRate", 48000));
  if (entry) json_array_append(array, entry.get());
}

bool vl_test_device_store(json_t* json, uint32_t block_frames) {
  return json_object_set_new(json, "minAudioLatency", json_integer(1)) == 0 &&
         json_object_set_new(json, "maxAudioLatency", json_integer(block_frames)) == 0 &&
         json_object_set_new(json, "sampleRate", json_pack("[i]", 48000)) == 0;
}

bool vl_test_device_prepare(vl_rational rate, uint32_t block_frames, uint32_t channels, VlTestDeviceParts* parts) {
  if (rate.nom <= 0 || rate.den <= 0 || block_frames == 0 || block_frames > vl_test_device_max_block_frames ||
      channels == 0) {
    errno = EINVAL;
    return false;
  }
  parts->clockref = vl_clockref_find(vl_test_device_clock);
  if (!parts->clockref) {
    errno = ENODEV;
    return false;
  }
  parts->samples.reset(new (std::nothrow) int32_t[static_cast<std::size_t>(block_frames) * channels]());
  if (!parts->samples) {
    errno = ENOMEM;
    return false;
  }
  parts->rate = rate;
  parts->block_frames = block_frames;
  parts->channels = channels;
  return true;
}
