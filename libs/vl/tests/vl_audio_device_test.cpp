// The audio device registry over the test generators and analyzers, timed
// by the system-clock PTP reference.
#include "vl/vl_audio_device.h"

#include "generator_analyzer/vl_analyzer.h"
#include "generator_analyzer/vl_generator.h"
#include "vl/vl_device.h"
#include "vl/vl_posix_ptp.h"
#include "vl/vl_ptp.h"
#include "vltest/log_capture.h"
#include "vltest/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Record = std::unique_ptr<VlAudioDevice>;

std::string dumped(const json_t* json) {
  char* text = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER);
  std::string result = text ? text : "";
  free(text);
  return result;
}

VlJsonRef parsed(const std::string& text) { return VlJsonRef(json_loads(text.c_str(), 0, nullptr)); }

class AudioRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    // A vendor file spares the device the host's interface scan.
    ASSERT_EQ(mkdir((home_.path() + "/.Velanto").c_str(), 0775), 0);
    std::ofstream(home_.config_path("velanto_vendor.cfg")) << "Acme";
    ASSERT_EQ(vl_ptp_init(), 0);
    ASSERT_TRUE(vl_posix_ptp_init());
    vl_generator_init();
    vl_analyzer_init();
    device_ = vl_device_ctor(nullptr);
    ASSERT_NE(device_, nullptr);
  }
  void TearDown() override {
    vl_device_dtor(device_);
    vl_analyzer_exit();
    vl_generator_exit();
    vl_posix_ptp_exit();
    vl_ptp_exit();
  }
  VlAudioDevice* listed(const char* name) {
    if (device_->audio_devices == nullptr) {
      EXPECT_EQ(vl_device_audio_init(device_), 0);
    }
    return vl_device_audio_find(device_, name);
  }

  vltest::TempHome home_;
  vltest::LogCapture log_;
  VlDevice* device_ = nullptr;
};

TEST_F(AudioRegistry, ListsEveryTestDeviceNewestFirstWithDefaultChannelNames) {
  ASSERT_EQ(vl_device_audio_init(device_), 0);
  std::vector<std::string> names;
  for (const VlAudioDevice* r = device_->audio_devices.get(); r; r = r->next.get())
    names.push_back(std::string(r->name) + "/" + r->driver_type);
  EXPECT_EQ(names, (std::vector<std::string>{"AnalyzerRamp/VlAnalyzerRamp", "AnalyzerFile/VlAnalyzerFile",
                                             "GeneratorRamp/VlGeneratorRamp", "GeneratorSine/VlGeneratorSine"}));
  EXPECT_EQ(log_.count("vl_device_audio_init() for VlAudioDevice \"GeneratorSine\" succeeded."), 1);
  const VlJsonRef sine(vl_audio_device_encode(vl_device_audio_find(device_, "GeneratorSine")));
  EXPECT_EQ(dumped(sine.get()),
            R"({"audio_device_name":"GeneratorSine","audio_properties":{"channelCountPlay":0,)"
            R"("channelCountCapture":1,"sampleRate":[48000]},"audio_config":{},)"
            R"("audio_captid":["capture_channel_0"],"audio_playid":[]})");
  const VlJsonRef analyzer(vl_audio_device_playback_channels(vl_device_audio_find(device_, "AnalyzerFile")));
  EXPECT_EQ(dumped(analyzer.get()), R"(["playback_channel_0"])");
  EXPECT_EQ(vl_device_audio_find(device_, "Generator"), nullptr);
}

TEST_F(AudioRegistry, NoDriverClassNoDevice) {
  vl_analyzer_exit();
  vl_generator_exit();
  EXPECT_EQ(vl_device_audio_init(device_), -1);
  EXPECT_EQ(log_.count("Could not find any audio device!"), 1);
  vl_generator_init();
  vl_analyzer_init();
}

TEST_F(AudioRegistry, AnEntryWithoutNameEndsTheListing) {
  static const VlMediadrvTypeDescriptor nameless_ts = {
      {&vl_mediadrv_audio_ts, "VlNamelessDriver", nullptr},
      [](json_t* array) { json_array_append_new(array, json_pack("{s:s}", "typename", "VlNamelessDriver")); }};
  vl_object_register(&nameless_ts);
  EXPECT_EQ(vl_device_audio_init(device_), -1);
  vl_object_unregister(&nameless_ts);
  EXPECT_EQ(log_.count("Error Invalid argument: vl_device_audio_init() for VlAudioDevice \"\" failed."), 1);
  // The devices listed before it stay with the device.
  EXPECT_NE(vl_device_audio_find(device_, "GeneratorSine"), nullptr);
}

TEST_F(AudioRegistry, ReservingTwiceKeepsTheFirstConfiguration) {
  VlAudioDevice* sine = listed("GeneratorSine");
  const VlJsonRef first = parsed(R"({"function": {"freq": [1000, 1]}})");
  ASSERT_EQ(vl_audio_device_lock(sine, first.get()), sine);
  VlMediadrvAudio* driver = sine->driver.get();
  ASSERT_NE(vl_audio_capture_ifc(sine), nullptr);
  EXPECT_EQ(vl_audio_play_ifc(sine), nullptr);
  EXPECT_EQ(log_.count("selected device GeneratorSine"), 1);
  EXPECT_EQ(vl_audio_device_lock(sine, parsed(R"({"function": {"freq": [500, 1]}})").get()), sine);
  EXPECT_EQ(sine->driver.get(), driver);
  EXPECT_EQ(sine->configuration.get(), first.get());
}

TEST_F(AudioRegistry, ReleaseDestroysTheDriverAndForgetsTheConfiguration) {
  VlAudioDevice* ramp = listed("AnalyzerRamp");
  ASSERT_EQ(vl_audio_device_lock(ramp, parsed(R"({"audioBlockSize": 64})").get()), ramp);
  vl_audio_device_unlock(ramp);
  EXPECT_EQ(ramp->driver, nullptr);
  EXPECT_EQ(vl_audio_play_ifc(ramp), nullptr);
  EXPECT_EQ(dumped(ramp->configuration.get()), "{}");
  EXPECT_EQ(log_.count("unlock audio device AnalyzerRamp"), 1);
  vl_audio_device_unlock(ramp);  // idle: nothing happens
  EXPECT_EQ(log_.count("unlock audio device"), 1);
}

TEST_F(AudioRegistry, FailedReservationsLeaveTheDeviceIdle) {
  VlAudioDevice* sine = listed("GeneratorSine");
  const VlJsonRef configuration = parsed(R"({"audioBlockSize": 64})");
  EXPECT_EQ(vl_audio_device_lock(sine, nullptr), nullptr);
  EXPECT_EQ(vl_audio_device_lock(sine, parsed(R"({"sampleRate": "fast"})").get()), nullptr);
  std::snprintf(sine->driver_type, sizeof sine->driver_type, "VlNoSuchDriver");
  EXPECT_EQ(vl_audio_device_lock(sine, configuration.get()), nullptr);
  EXPECT_EQ(log_.count("Construction of audio device GeneratorSine failed."), 3);
  // A class that makes objects which are no audio drivers.
  static const VlTypeDescriptor plain_ts = {&vl_object_ts, "VlPlainObject",
                                            [](const json_t*) -> VlObject* { return new VlObject; }};
  vl_object_register(&plain_ts);
  std::snprintf(sine->driver_type, sizeof sine->driver_type, "VlPlainObject");
  EXPECT_EQ(vl_audio_device_lock(sine, configuration.get()), nullptr);
  vl_object_unregister(&plain_ts);
  EXPECT_EQ(log_.count("Object GeneratorSine isn't an audio device."), 1);
  EXPECT_EQ(sine->driver, nullptr);
  EXPECT_EQ(dumped(sine->configuration.get()), "{}");
}

TEST_F(AudioRegistry, ChannelNamesChangeWhereBothHaveOne) {
  const Record record(vl_audio_device_ctor("card", parsed(R"({"channelCountCapture": 2})").get()));
  ASSERT_NE(record, nullptr);
  const struct {
    const char* given;
    const char* expected;
  } cases[] = {
      {R"(["a", "b", "extra"])", R"(["a","b"])"},
      {R"(["c"])", R"(["c","b"])"},
      {"{}", R"(["c","b"])"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(vl_audio_device_capture_channels_set(record.get(), parsed(c.given).get()), 0);
    EXPECT_EQ(dumped(VlJsonRef(vl_audio_device_capture_channels(record.get())).get()), c.expected) << c.given;
  }
  EXPECT_EQ(vl_audio_device_playback_channels_set(record.get(), parsed(R"(["p"])").get()), 0);
  EXPECT_EQ(dumped(record->playback_names.get()), "[]");
  EXPECT_EQ(vl_audio_device_capture_channels_set(nullptr, parsed("[]").get()), -1);
}

TEST_F(AudioRegistry, LoadReservesSavedDevicesAndPassesOverUnknownOnes) {
  listed("GeneratorRamp");
  const VlJsonRef saved = parsed(R"([
      {"audio_device_name": "Missing", "audio_config": {"audioBlockSize": 64}},
      {"audio_device_name": "AnalyzerFile", "audio_config": {}, "audio_playid": ["left"]},
      {"audio_device_name": "GeneratorRamp", "audio_config": {"audioBlockSize": 64},
       "audio_captid": ["mic"], "audio_playid": ["ignored"]}])");
  EXPECT_EQ(vl_audio_device_load(device_, saved.get()), 0);
  EXPECT_EQ(log_.count("Could not find audio_device Missing!"), 1);
  const VlAudioDevice* file = vl_device_audio_find(device_, "AnalyzerFile");
  EXPECT_EQ(file->driver, nullptr);
  EXPECT_EQ(dumped(file->playback_names.get()), R"(["playback_channel_0"])");
  const VlAudioDevice* ramp = vl_device_audio_find(device_, "GeneratorRamp");
  EXPECT_NE(ramp->driver, nullptr);
  EXPECT_EQ(dumped(ramp->capture_names.get()), R"(["mic"])");
  EXPECT_EQ(dumped(ramp->configuration.get()), R"({"audioBlockSize":64})");
}

TEST_F(AudioRegistry, DecodedListComesBackInReverseOrder) {
  ASSERT_EQ(vl_device_audio_init(device_), 0);
  const VlJsonRef encoded(vl_audio_device_list_encode(device_->audio_devices.get()));
  const Record decoded(vl_audio_device_list_decode(encoded.get()));
  ASSERT_NE(decoded, nullptr);
  EXPECT_STREQ(decoded->name, "GeneratorSine");
  const VlJsonRef again(vl_audio_device_list_encode(decoded.get()));
  ASSERT_EQ(json_array_size(again.get()), 4u);
  EXPECT_EQ(dumped(json_array_get(again.get(), 3)), dumped(json_array_get(encoded.get(), 0)));
  errno = 0;
  EXPECT_EQ(vl_audio_device_decode(parsed("{}").get()), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(vl_audio_device_decode(parsed(R"({"audio_device_name": "x", "audio_captid": "a"})").get()), nullptr);
  EXPECT_EQ(log_.count("Invalid configuration of audio_device x while decoding!"), 1);
}

TEST(AudioDeviceName, BoardNamesAreConverted) {
  const struct {
    uint32_t variant;
    const char* name;
    const char* converted;
  } cases[] = {
      {1, "Norzel Audio", "VELANTO Audio-vn0"}, {1, "Other Card", "Other Card"},
      {2, "FennoMaster 8", "VELANTO Audio-vn0"}, {3, "Quabe-x-vn1", "VELANTO Audio-vn1"},
      {3, "Quabe", "Quabe"},                     {4, "TumoCommentary", "VELANTO Audio-vn0"},
      {7, "Norzel Audio", "Norzel Audio"},
  };
  for (const auto& c : cases) {
    const VlJsonRef saved(json_pack("{s:s}", "audio_device_name", c.name));
    convert_audio_device_name_for_variant(saved.get(), c.variant);
    EXPECT_STREQ(json_string_value(json_object_get(saved.get(), "audio_device_name")), c.converted) << c.name;
  }
  const VlJsonRef saved(json_pack("{s:s}", "audio_device_name", "Norzel 2"));
  convert_audio_device_name(saved.get());
  EXPECT_STREQ(json_string_value(json_object_get(saved.get(), "audio_device_name")), "VELANTO Audio-vn0");
}

}  // namespace
