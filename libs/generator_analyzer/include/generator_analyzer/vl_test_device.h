// What the built-in test devices (generators and analyzers) share: their
// configuration, their device list entries, their stored keys and the parts
// they are built from.
#pragma once

#include "vl/vl_clockref.h"
#include "vlutil/vl_rational.h"

#include <jansson.h>
#include <log4c.h>

#include <cstdint>
#include <memory>

inline constexpr const char* vl_test_device_clock = "PTPv2 0";
inline constexpr uint32_t vl_test_device_default_block_frames = 1024;
// Block sizes arrive from control clients: a bound keeps a request from
// allocating without limit.
inline constexpr uint32_t vl_test_device_max_block_frames = 65536;
// The processing block the devices report in their properties.
inline constexpr uint32_t vl_test_device_processing_frames = 128;

// The "configuration" of a driver's JSON as the test devices read it.
struct VlTestDeviceConfig {
  vl_rational rate;
  uint32_t block_frames;   // 0 when the given size cannot be one
  const json_t* function;  // borrowed from the JSON, or null
};

// Reads "sampleRate" ([nom, den], default 48000/1), "audioBlockSize" (0 or
// absent: 1024) and "function". False after logging "Illegal sample rate
// given" on `category`.
bool vl_test_device_read_config(const json_t* json, log4c_category_t* category, VlTestDeviceConfig* config);

// Appends {"typename", "devicename", "properties": {"channelCountPlay",
// "channelCountCapture", "sampleRate": [48000]}}.
void vl_test_device_list_entry(json_t* array, const char* type_name, const char* device_name, int play_channels,
                               int capture_channels);

// Adds "minAudioLatency", "maxAudioLatency" and "sampleRate".
bool vl_test_device_store(json_t* json, uint32_t block_frames);

// What a test device is built from.
struct VlTestDeviceParts {
  VlClockref* clockref = nullptr;
  vl_rational rate{};
  uint32_t block_frames = 0;
  uint32_t channels = 0;
  std::unique_ptr<int32_t[]> samples;  // channels times block_frames, zeroed
};

// False with errno EINVAL (rate not positive, block size 0 or above the
// bound), ENODEV (no "PTPv2 0" clock reference) or ENOMEM.
bool vl_test_device_prepare(vl_rational rate, uint32_t block_frames, uint32_t channels, VlTestDeviceParts* parts);
