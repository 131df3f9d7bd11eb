// The audio device commands on a device of the lab whose generator and
// analyzer feed real streams: a device in use keeps its driver.
#include "vlipc/vlipc_audio.h"

#include "vl/vl_device.h"
#include "vltest/device_lab.h"
#include "vltest/log_capture.h"
#include "vlutil/vl_error.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using vltest::NetLab;

std::string sdp(const char* group) {
  return std::string("v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Lab\nt=0 0\nm=audio 5030 RTP/AVP 98\nc=IN IP4 ") + group +
         "/32\na=rtpmap:98 L24/48000/1\na=sync-time:0\n";
}

class AudioInUse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.net().error();
    device_ = lab_.make_device(NetLab::A);
    ASSERT_NE(device_, nullptr);
    ASSERT_NE(lab_.reserve(device_, "GeneratorRamp"), nullptr);
    ASSERT_NE(lab_.reserve(device_, "AnalyzerRamp"), nullptr);
    lab_.run_in(NetLab::A, [&] { session_ = vl_device_add_session(device_, "veth0", "239.77.4.1", 5030); });
    ASSERT_NE(session_, nullptr);
    vl_error_install(errors_);
  }
  void TearDown() override { vl_error_dtor(errors_); }

  static VlJsonRef named(const char* name) { return VlJsonRef(json_pack("{s:s}", "audio_device_name", name)); }
  // The text of the one error a refused release gives; empty on success.
  std::string release(const char* name) {
    const VlJsonRef result(vl_audio_release_request(device_, named(name).get()));
    const char* text = json_string_value(json_object_get(json_array_get(result.get(), 0), "text"));
    return text ? text : "";
  }
  void add_sender() {
    lab_.run_in(NetLab::A, [&] {
      VlStreamSender* sender = vl_stream_sender_ctor(session_->interface, sdp("239.77.4.1").c_str(),
                                                     vl_device_audio_find(device_, "GeneratorRamp"),
                                                     vl_session_ssrc(session_), 0, 48, 34);
      ASSERT_NE(sender, nullptr);
      ASSERT_EQ(vl_session_add_send(session_, sender), 0);
    });
  }
  void add_receiver() {
    lab_.run_in(NetLab::A, [&] {
      VlStreamReceiver* receiver = vl_stream_receiver_ctor(session_->interface, sdp("239.77.4.2").c_str(),
                                                           vl_device_audio_find(device_, "AnalyzerRamp"), 96);
      ASSERT_NE(receiver, nullptr);
      ASSERT_EQ(vl_session_add_recv(session_, receiver), 0);
    });
  }

  vltest::LogCapture log_;
  vltest::DeviceLab lab_;
  VlDevice* device_ = nullptr;
  VlSession* session_ = nullptr;
  VlError* errors_ = vl_error_ctor();
};

TEST_F(AudioInUse, ASendersDeviceIsNotReleasedNorReplacedUntilTheSenderIsGone) {
  add_sender();
  VlAudioDevice* ramp = vl_device_audio_find(device_, "GeneratorRamp");
  const VlMediadrvAudio* driver = ramp->driver.get();
  EXPECT_EQ(release("GeneratorRamp"), "Audio device GeneratorRamp is in use by a stream!");
  const VlJsonRef other(json_pack("{s:s, s:{s:i}}", "audio_device_name", "GeneratorRamp", "audio_config",
                                  "audioBlockSize", 256));
  EXPECT_TRUE(json_is_object(VlJsonRef(vl_audio_reserve_request(device_, other.get())).get()));
  EXPECT_EQ(ramp->driver.get(), driver);

  vl_object_delete(vl_session_del_send(session_));
  EXPECT_EQ(release("GeneratorRamp"), "");
  EXPECT_EQ(ramp->driver, nullptr);
}

TEST_F(AudioInUse, AReceiversDeviceIsNotReleasedUntilTheReceiverIsGone) {
  add_receiver();
  EXPECT_EQ(release("AnalyzerRamp"), "Audio device AnalyzerRamp is in use by a stream!");
  EXPECT_EQ(release("GeneratorRamp"), "");  // the other device is free
  vl_object_delete(vl_session_del_recv(session_, vl_session_get_receiver(session_)));
  EXPECT_EQ(release("AnalyzerRamp"), "");
  EXPECT_EQ(vl_device_audio_find(device_, "AnalyzerRamp")->driver, nullptr);
}

}  // namespace
