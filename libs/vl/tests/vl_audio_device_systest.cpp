// The audio device registry with RtAudio's driver beside the test devices:
// the device of a JACK server with the dummy backend.
#include "vl/vl_audio_device.h"

#include "generator_analyzer/vl_analyzer.h"
#include "generator_analyzer/vl_generator.h"
#include "rtaudioifc/rtaudio_buffer.h"
#include "vl/vl_device.h"
#include "vl/vl_posix_ptp.h"
#include "vl/vl_ptp.h"
#include "vltest/jack_server.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(AudioRegistryWithJack, ListsAndReservesTheRtAudioDevice) {
  vltest::JackServer server;
  ASSERT_TRUE(server.ready()) << server.log();
  vltest::LogCapture log;
  ASSERT_EQ(vl_ptp_init(), 0);
  ASSERT_TRUE(vl_posix_ptp_init());
  vl_rtaudioifc_init();
  vl_generator_init();
  vl_analyzer_init();
  VlDevice* device = vl_device_ctor(nullptr);
  ASSERT_NE(device, nullptr);

  ASSERT_EQ(vl_device_audio_init(device), 0);
  std::vector<std::string> names;
  for (const VlAudioDevice* r = device->audio_devices.get(); r; r = r->next.get()) names.push_back(r->name);
  EXPECT_EQ(names, (std::vector<std::string>{"AnalyzerRamp", "AnalyzerFile", "GeneratorRamp", "GeneratorSine",
                                             "system"}));
  VlAudioDevice* card = vl_device_audio_find(device, "system");
  ASSERT_NE(card, nullptr);
  EXPECT_STREQ(card->driver_type, "VlAudioBuffer");
  EXPECT_EQ(json_array_size(card->capture_names.get()), 2u);

  const VlJsonRef configuration(json_pack("{s:i, s:i, s:[i, i]}", "channelCountPlay", 2, "channelCountCapture", 2,
                                          "sampleRate", 48000, 1));
  ASSERT_EQ(vl_audio_device_lock(card, configuration.get()), card) << "JACK server: " << server.log();
  EXPECT_NE(vl_audio_capture_ifc(card), nullptr);
  EXPECT_NE(vl_audio_play_ifc(card), nullptr);
  // Destroying the device releases the reservation.
  vl_device_dtor(device);
  EXPECT_EQ(log.count("unlock audio device system"), 1);

  vl_analyzer_exit();
  vl_generator_exit();
  vl_rtaudioifc_exit();
  vl_posix_ptp_exit();
  vl_ptp_exit();
}

}  // namespace
