// Saving and loading "velanto.cfg" for devices in lab host A.
#include "vl/vl_device_config.h"

#include "vl/vl_device.h"
#include "vltest/device_lab.h"
#include "vltest/log_capture.h"
#include "vltest/rtp_lab.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

constexpr const char* file = "velanto.cfg";

std::string sdp(const char* group, int port) {
  return std::string("v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Saved stream\nt=0 0\nm=audio ") + std::to_string(port) +
         " RTP/AVP 98\nc=IN IP4 " + group + "/32\na=rtpmap:98 L24/48000/2\na=sync-time:0\n";
}

std::string dumped(const json_t* json) {
  char* text = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER);
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

class ConfigLab : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.net().error();
    device_ = lab_.make_device(vltest::NetLab::A);
    ASSERT_NE(device_, nullptr);
  }

  // A session on veth0 (RTCP on `port` + 1) with a sender of the ramp
  // generator to `port`, both channels connected.
  VlSession* add_sending_session(VlDevice* device, const char* group, int port) {
    VlSession* session = nullptr;
    lab_.run_in(vltest::NetLab::A, [&] {
      session = vl_device_add_session(device, "veth0", group, port + 1);
      if (!session) return;
      std::unique_ptr<VlStreamSender, VlStreamDeleter> sender(
          vl_stream_sender_ctor(session->interface, sdp(group, port).c_str(),
                                vl_device_audio_find(device, "GeneratorRamp"), vl_session_ssrc(session), 0, 48, 34));
      const int32_t entries[] = {0, 0};
      VlChannelMapPtr map(vl_channel_map_ctor(entries, 2));
      if (sender && vl_stream_set_channel_map(sender.get(), map.get(), nullptr) == 0 &&
          vl_session_add_send(session, sender.get()) == 0)
        sender.release();
    });
    return session;
  }
  int load(VlDevice* device) {
    int result = -1;
    lab_.run_in(vltest::NetLab::A, [&] { result = vl_device_load_configuration(device, file); });
    return result;
  }
  VlDevice* fresh_device() {
    lab_.destroy(device_);
    device_ = lab_.make_device(vltest::NetLab::A);
    return device_;
  }
  std::string path() const { return lab_.home().config_path(file); }
  bool file_exists() const { return access(path().c_str(), F_OK) == 0; }
  VlJsonRef stored() const { return VlJsonRef(vl_json_load_file(file)); }
  // Writes `json` as the configuration file, with its digest line.
  void store(const json_t* json) { ASSERT_EQ(vl_json_save_file(json, file), 0); }
  std::string session_order(const json_t* configuration) {
    std::string order;
    std::size_t index = 0;
    json_t* session = nullptr;
    json_array_foreach(json_object_get(configuration, "session_list"), index, session)
      order += std::to_string(json_integer_value(json_object_get(json_object_get(session, "session_id"), "session_port"))) + " ";
    return order;
  }

  vltest::DeviceLab lab_;
  vltest::LogCapture log_;
  VlDevice* device_ = nullptr;
};

TEST_F(ConfigLab, AFreshDeviceGetsEverythingBackAndStreamsAgain) {
  ASSERT_NE(lab_.reserve(device_, "GeneratorRamp"), nullptr);
  VlJsonRef names(json_pack("[s]", "Ramp"));
  ASSERT_EQ(vl_audio_device_capture_channels_set(vl_device_audio_find(device_, "GeneratorRamp"), names.get()), 0);
  ASSERT_NE(add_sending_session(device_, "239.77.4.1", 5040), nullptr);
  VlJsonRef stored_data(json_pack("{s:i}", "volume", 11));
  json_object_set(device_->additional.get(), "mixer", stored_data.get());
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);

  rtp_lab::WireTap tap(lab_.net(), "239.77.4.1", 5040);
  VlDevice* device = fresh_device();
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(load(device), 0);
  VlAudioDevice* ramp = vl_device_audio_find(device, "GeneratorRamp");
  ASSERT_NE(ramp->driver, nullptr);
  VlJsonRef restored_names(vl_audio_device_capture_channels(ramp));
  EXPECT_EQ(dumped(restored_names.get()), R"(["Ramp"])");
  EXPECT_EQ(dumped(json_object_get(device->additional.get(), "mixer")), R"({"volume":11})");
  VlSessionId id{};
  ASSERT_TRUE(vl_session_id_make("239.77.4.1", 5041, &id));
  VlSession* session = vl_device_find_session(device, id);
  ASSERT_NE(session, nullptr);
  ASSERT_NE(vl_session_get_sender(session), nullptr);
  EXPECT_EQ(vl_stream_sender_dscp(vl_session_get_sender(session)), 34);
  EXPECT_EQ(tap.next(1000).size(), 12u + 48 * 2 * 3);
}

// An unchanged save writes nothing; a failed write, or deleting the file,
// makes the next save write again.
TEST_F(ConfigLab, OnlyChangesAreWritten) {
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  ASSERT_EQ(unlink(path().c_str()), 0);
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  EXPECT_FALSE(file_exists());

  vl_device_delete_configuration(device_, file);  // nothing to delete, but forgotten all the same
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  EXPECT_TRUE(file_exists());

  ASSERT_NE(lab_.reserve(device_, "GeneratorRamp"), nullptr);  // a change
  const std::string directory = lab_.home().path() + "/.Velanto";
  ASSERT_EQ(system(("rm -rf " + directory + " && touch " + directory).c_str()), 0);
  EXPECT_EQ(vl_device_save_configuration(device_, file), -1);
  ASSERT_EQ(unlink(directory.c_str()), 0);
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  EXPECT_TRUE(file_exists());
}

TEST_F(ConfigLab, VersionsOnTheLadder) {
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  const VlJsonRef saved = stored();
  struct Case {
    int major, minor;
    bool platform;  // "device_type" and "device_variant" in "device_id"
    int result;
    const char* message;
  } cases[] = {
      {0, 29, true, -1, "Found incompatible version in configuration, abort loading!"},
      {2, 0, true, -1, "Found incompatible version in configuration, abort loading!"},
      {0, 32, false, 0, "Found compatible version 0.32 in configuration!"},
      {0, 35, false, -1, "Found wrong device in configuration, abort loading!"},
      {1, 3, true, 0, "Found compatible version >=0.35 in configuration!"},
  };
  for (const Case& c : cases) {
    VlJsonRef configuration(json_deep_copy(saved.get()));
    json_object_set_new(configuration.get(), "vl_version",
                        json_pack("{s:i, s:i, s:s}", "vl_version_major", c.major, "vl_version_minor", c.minor,
                                  "vl_version_build", "8727D"));
    if (!c.platform) {
      json_object_del(json_object_get(configuration.get(), "device_id"), "device_type");
      json_object_del(json_object_get(configuration.get(), "device_id"), "device_variant");
    }
    store(configuration.get());
    log_.clear();
    EXPECT_EQ(load(device_), c.result) << c.major << "." << c.minor;
    EXPECT_EQ(log_.count(c.message), 1) << c.major << "." << c.minor;
  }
}

// A foreign device's file is refused after its log priorities were applied;
// a hand-edited digest line does not matter.
TEST_F(ConfigLab, DeviceCheckAndDigest) {
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  VlJsonRef foreign = stored();
  json_object_set_new(json_object_get(foreign.get(), "device_id"), "vendor_id", json_string("Otherco"));
  json_object_set_new(json_object_get(foreign.get(), "logging"), "velanto.config.test", json_integer(700));
  store(foreign.get());
  EXPECT_EQ(load(device_), -1);
  EXPECT_EQ(log_.count("Found wrong device in configuration, abort loading!"), 1);
  EXPECT_EQ(log4c_category_get_priority(log4c_category_get("velanto.config.test")), 700);

  ASSERT_EQ(vl_device_delete_configuration(device_, file), 0);
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  std::stringstream text;
  text << std::ifstream(path()).rdbuf();
  std::string edited = text.str();
  edited.replace(edited.rfind('\n', edited.size() - 2) + 1, 32, std::string(32, '0'));
  std::ofstream(path()) << edited;
  EXPECT_EQ(load(device_), 0);
}

TEST_F(ConfigLab, EachSaveAfterALoadReversesTheSessions) {
  ASSERT_NE(lab_.reserve(device_, "GeneratorRamp"), nullptr);
  ASSERT_NE(add_sending_session(device_, "239.77.4.1", 5040), nullptr);
  ASSERT_NE(add_sending_session(device_, "239.77.4.2", 5042), nullptr);
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  EXPECT_EQ(session_order(stored().get()), "5043 5041 ");
  VlDevice* device = fresh_device();
  ASSERT_EQ(load(device), 0);
  ASSERT_EQ(vl_device_save_configuration(device, file), 0);
  EXPECT_EQ(session_order(stored().get()), "5041 5043 ");
}

// What a load cannot restore (a sound card not plugged in, an interface that
// is gone, a malformed element) does not stop the rest, and what is merely
// absent now is written again by the next save.
TEST_F(ConfigLab, WhatCannotBeRestoredIsSkippedOrKept) {
  ASSERT_NE(lab_.reserve(device_, "GeneratorRamp"), nullptr);
  ASSERT_NE(add_sending_session(device_, "239.77.4.1", 5040), nullptr);
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  VlJsonRef configuration = stored();
  json_t* sessions = json_object_get(configuration.get(), "session_list");
  json_t* usb_session = json_deep_copy(json_array_get(sessions, 0));
  json_object_set_new(json_object_get(usb_session, "session_id"), "session_port", json_integer(5045));
  json_object_set_new(json_object_get(usb_session, "session_sender"), "audio_device_name", json_string("UsbCard"));
  json_array_append_new(sessions, usb_session);
  json_array_append_new(sessions, json_pack("{s:{s:s, s:i}, s:s, s:{}, s:{}}", "session_id", "session_addr",
                                            "239.77.4.9", "session_port", 5050, "network_interface_name", "eth9",
                                            "session_sender", "session_receiver"));
  json_array_append_new(sessions, json_pack("{s:{s:i}}", "session_id", "session_addr", 5));
  json_array_append_new(json_object_get(configuration.get(), "audio_device_list"),
                        json_pack("{s:s, s:{s:i}}", "audio_device_name", "UsbCard", "audio_config", "audioBlockSize", 64));
  store(configuration.get());

  VlDevice* device = fresh_device();
  ASSERT_EQ(load(device), 0);
  VlSessionId id{};
  ASSERT_TRUE(vl_session_id_make("239.77.4.1", 5041, &id));
  ASSERT_NE(vl_device_find_session(device, id), nullptr);
  EXPECT_NE(vl_session_get_sender(vl_device_find_session(device, id)), nullptr);

  ASSERT_EQ(vl_device_delete_configuration(device, file), 0);
  ASSERT_EQ(vl_device_save_configuration(device, file), 0);
  const VlJsonRef again = stored();
  const std::string text = dumped(again.get());
  EXPECT_NE(text.find(R"("audio_device_name":"UsbCard","audio_config")"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("network_interface_name":"eth9")"), std::string::npos) << text;
  EXPECT_EQ(session_order(again.get()), "5045 5041 5050 ");
  EXPECT_NE(text.find(R"("audio_device_name":"UsbCard","stream_channelmap")"), std::string::npos) << text;
}

// A saved audio device that could not be restored is written again only
// while its device stays idle: once reserved, its own entry alone is saved,
// and the next load gives it back its own channel names.
TEST_F(ConfigLab, AKeptAudioDeviceGivesWayToItsReservation) {
  ASSERT_EQ(vl_device_save_configuration(device_, file), 0);
  VlJsonRef configuration = stored();
  json_array_append_new(json_object_get(configuration.get(), "audio_device_list"),
                        json_pack("{s:s, s:{s:i, s:i}, s:[s]}", "audio_device_name", "GeneratorRamp", "audio_config",
                                  "audioBlockSize", 1024, "sampleRate", 1, "audio_captid", "Stale"));
  store(configuration.get());
  VlDevice* device = fresh_device();
  ASSERT_EQ(load(device), 0);
  VlAudioDevice* ramp = vl_device_audio_find(device, "GeneratorRamp");
  ASSERT_EQ(ramp->driver, nullptr);

  ASSERT_NE(lab_.reserve(device, "GeneratorRamp"), nullptr);
  VlJsonRef names(json_pack("[s]", "Live"));
  ASSERT_EQ(vl_audio_device_capture_channels_set(ramp, names.get()), 0);
  ASSERT_EQ(vl_device_save_configuration(device, file), 0);
  const std::string text = dumped(stored().get());
  EXPECT_EQ(text.find("Stale"), std::string::npos) << text;

  device = fresh_device();
  ASSERT_EQ(load(device), 0);
  VlJsonRef restored_names(vl_audio_device_capture_channels(vl_device_audio_find(device, "GeneratorRamp")));
  EXPECT_EQ(dumped(restored_names.get()), R"(["Live"])");
}

}  // namespace
