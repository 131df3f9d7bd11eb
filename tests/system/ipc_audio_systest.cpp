// Commands 14 to 17 against a real streamerd: reserving, naming and
// releasing its test generators and analyzers.
#include "ipc_control.h"

#include <string>

namespace {

using ipc_control::refused;

class AudioCommands : public ipc_control::OneDaemon {
 protected:
  // The configuration GeneratorRamp's description shows after a reservation.
  std::string reserved_config(const std::string& config) {
    const VlJsonRef description =
        a_.result(14, R"({"audio_device_name": "GeneratorRamp", "audio_config": )" + config + "}");
    return ipc_control::text_of(json_object_get(description.get(), "audio_config"));
  }
};

TEST_F(AudioCommands, ReserveAnswersTheDeviceDescription) {
  EXPECT_EQ(answer(14, R"({"audio_device_name": "GeneratorRamp", "audio_config": {"audioBlockSize": 256}})"),
            R"({"command": 14, "parameter": {"audio_device_name": "GeneratorRamp", "audio_properties": )"
            R"({"channelCountPlay": 0, "channelCountCapture": 1, "sampleRate": [48000]}, )"
            R"("audio_config": {"audioBlockSize": 256}, "audio_captid": ["capture_channel_0"], "audio_playid": []}})");
}

TEST_F(AudioCommands, ReservingAReservedDeviceKeepsItsDriverAndConfiguration) {
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 256})"), R"({"audioBlockSize": 256})");
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 512})"), R"({"audioBlockSize": 256})");
}

TEST_F(AudioCommands, ReserveRefusesBadParametersUnknownDevicesAndConfigurationsTheDriverRejects) {
  const std::string bad = "Invalid parameter list for audio device reserve request!";
  const struct {
    const char* parameter;
    int type;
    std::string text;
  } cases[] = {
      {"[]", 22, bad},
      {R"({"audio_device_name": "NoSuchDevice"})", 22, bad},  // the keys are checked first
      {R"({"audio_device_name": "GeneratorRamp", "audio_config": []})", 22, bad},
      {R"({"audio_device_name": 5, "audio_config": {}})", 22, bad},
      {R"({"audio_device_name": "NoSuchDevice", "audio_config": {}})", 19, "Requested audio device not found."},
      {R"({"audio_device_name": "GeneratorRamp", "audio_config": {"sampleRate": [0, 1]}})", 19,
       "Could not reserve the audio device: GeneratorRamp."},
  };
  for (const auto& c : cases) EXPECT_TRUE(refused(answer(14, c.parameter), 14, c.type, c.text)) << c.parameter;
  // The refused reservation left the device idle.
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 512})"), R"({"audioBlockSize": 512})");
}

TEST_F(AudioCommands, SetNamesAnswersNullAndReplacesTheNamesTheDeviceHas) {
  EXPECT_EQ(answer(15, R"({"audio_device_name": "GeneratorRamp", "audio_captid": ["Left", "Extra"], )"
                       R"("audio_playid": ["Unplayable"]})"),
            R"({"command": 15, "parameter": null})");
  EXPECT_NE(answer(14, R"({"audio_device_name": "GeneratorRamp", "audio_config": {}})")
                .find(R"("audio_captid": ["Left"], "audio_playid": []})"),
            std::string::npos);
}

TEST_F(AudioCommands, SetNamesRefusesBadParametersAndUnknownDevices) {
  const std::string bad = "Invalid parameter list for set audio device channel names request!";
  const struct {
    const char* parameter;
    int type;
    std::string text;
  } cases[] = {
      {"null", 22, bad},
      {R"({"audio_device_name": "GeneratorRamp", "audio_captid": []})", 22, bad},
      {R"({"audio_device_name": "GeneratorRamp", "audio_captid": {}, "audio_playid": []})", 22, bad},
      {R"({"audio_device_name": "NoSuchDevice", "audio_captid": [], "audio_playid": []})", 19,
       "Requested audio device not found."},
  };
  for (const auto& c : cases) EXPECT_TRUE(refused(answer(15, c.parameter), 15, c.type, c.text)) << c.parameter;
}

TEST_F(AudioCommands, ConfigAnswersNullWhateverItIsGiven) {
  for (const char* parameter : {"null", "{}", R"({"audio_device_name": "GeneratorRamp"})", "[1]"})
    EXPECT_EQ(answer(16, parameter), R"({"command": 16, "parameter": null})") << parameter;
}

TEST_F(AudioCommands, ReleaseAnswersTheNameAndLeavesTheDeviceIdle) {
  ASSERT_EQ(reserved_config(R"({"audioBlockSize": 256})"), R"({"audioBlockSize": 256})");
  EXPECT_EQ(answer(17, R"({"audio_device_name": "GeneratorRamp"})"),
            R"({"command": 17, "parameter": {"audio_device_name": "GeneratorRamp"}})");
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 512})"), R"({"audioBlockSize": 512})");
  // A device that was never reserved is released all the same.
  EXPECT_EQ(answer(17, R"({"audio_device_name": "AnalyzerRamp"})"),
            R"({"command": 17, "parameter": {"audio_device_name": "AnalyzerRamp"}})");
}

TEST_F(AudioCommands, ReleaseRefusesBadParametersAndUnknownDevices) {
  const std::string bad = "Invalid parameter list for audio device release request!";
  EXPECT_TRUE(refused(answer(17, "{}"), 17, 22, bad));
  EXPECT_TRUE(refused(answer(17, R"({"audio_device_name": ["GeneratorRamp"]})"), 17, 22, bad));
  EXPECT_TRUE(refused(answer(17, R"({"audio_device_name": "NoSuchDevice"})"), 17, 19,
                      "Requested audio device not found."));
}

// A sender's timer reads the capture interface of its audio device's
// driver: while it runs, the driver stays, and reserving again keeps it.
TEST_F(AudioCommands, ReleaseOfADeviceAStreamUsesIsRefusedUntilTheStreamIsRemoved) {
  add_session();
  ASSERT_EQ(reserved_config(R"({"audioBlockSize": 256})"), R"({"audioBlockSize": 256})");
  const std::string sender = answer(9, R"({"session_id": )" + ipc_control::session_id() +
                                           R"(, "audio_device_name": "GeneratorRamp", "stream_sdp": )" +
                                           ipc_control::json_text(ipc_control::stream_sdp()) +
                                           R"(, "stream_seqno": 0, "stream_dscp": 34, "stream_packetduration": 48})");
  ASSERT_TRUE(sender.starts_with(R"({"command": 9, "parameter": {)")) << sender;

  EXPECT_TRUE(refused(answer(17, R"({"audio_device_name": "GeneratorRamp"})"), 17, 19,
                      "Audio device GeneratorRamp is in use by a stream!"));
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 512})"), R"({"audioBlockSize": 256})");

  const std::string removed = answer(11, R"({"session_id": )" + ipc_control::session_id() + R"(, "stream_type": 1})");
  ASSERT_TRUE(removed.starts_with(R"({"command": 11, "parameter": {)")) << removed;
  EXPECT_EQ(answer(17, R"({"audio_device_name": "GeneratorRamp"})"),
            R"({"command": 17, "parameter": {"audio_device_name": "GeneratorRamp"}})");
}

}  // namespace
