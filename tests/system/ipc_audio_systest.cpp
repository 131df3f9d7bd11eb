// Commands 14 to 17 against a real streamerd: reserving, naming and
// releasing its test generators and analyzers.
#include "ipc_command_test.h"

#include <string>

namespace {

using ipctest::Errors;

class AudioCommands : public ipctest::IpcCommandTest {
 protected:
  // The parameter of the response, whether it is a result or an error array.
  VlJsonRef result_or_error(int command, const std::string& parameter) {
    const VlJsonRef body = ipctest::parse(answer(command, parameter));
    return VlJsonRef::borrow(json_object_get(body.get(), "parameter"));
  }
  // The configuration GeneratorRamp's description shows after a reservation.
  std::string reserved_config(const std::string& config) {
    const VlJsonRef description =
        result(14, R"({"audio_device_name": "GeneratorRamp", "audio_config": )" + config + "}");
    char* text = json_dumps(json_object_get(description.get(), "audio_config"), JSON_COMPACT);
    const std::string shown = text ? text : "";
    std::free(text);
    return shown;
  }
};

TEST_F(AudioCommands, ReserveAnswersTheDeviceDescription) {
  EXPECT_EQ(answer(14, R"({"audio_device_name": "GeneratorRamp", "audio_config": {"audioBlockSize": 256}})"),
            R"({"command": 14, "parameter": {"audio_device_name": "GeneratorRamp", "audio_properties": )"
            R"({"channelCountPlay": 0, "channelCountCapture": 1, "sampleRate": [48000]}, )"
            R"("audio_config": {"audioBlockSize": 256}, "audio_captid": ["capture_channel_0"], "audio_playid": []}})");
}

TEST_F(AudioCommands, ReservingAReservedDeviceKeepsItsDriverAndConfiguration) {
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 256})"), R"({"audioBlockSize":256})");
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 512})"), R"({"audioBlockSize":256})");
}

TEST_F(AudioCommands, ReserveRefusesBadParametersUnknownDevicesAndConfigurationsTheDriverRejects) {
  const Errors bad = {{22, "Invalid parameter list for audio device reserve request!"}};
  const struct {
    const char* parameter;
    Errors errors;
  } cases[] = {
      {"[]", bad},
      {R"({"audio_device_name": "NoSuchDevice"})", bad},  // the keys are checked first
      {R"({"audio_device_name": "GeneratorRamp", "audio_config": []})", bad},
      {R"({"audio_device_name": 5, "audio_config": {}})", bad},
      {R"({"audio_device_name": "NoSuchDevice", "audio_config": {}})", {{19, "Requested audio device not found."}}},
      {R"({"audio_device_name": "GeneratorRamp", "audio_config": {"sampleRate": [0, 1]}})",
       {{19, "Could not reserve the audio device: GeneratorRamp."}}},
  };
  for (const auto& c : cases) EXPECT_EQ(errors(14, c.parameter), c.errors) << c.parameter;
  // The refused reservation left the device idle.
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 512})"), R"({"audioBlockSize":512})");
}

TEST_F(AudioCommands, SetNamesAnswersNullAndReplacesTheNamesTheDeviceHas) {
  EXPECT_EQ(answer(15, R"({"audio_device_name": "GeneratorRamp", "audio_captid": ["Left", "Extra"], )"
                       R"("audio_playid": ["Unplayable"]})"),
            R"({"command": 15, "parameter": null})");
  const VlJsonRef description = result(14, R"({"audio_device_name": "GeneratorRamp", "audio_config": {}})");
  char* names = json_dumps(description.get(), JSON_COMPACT);
  EXPECT_NE(std::string(names).find(R"("audio_captid":["Left"],"audio_playid":[])"), std::string::npos) << names;
  std::free(names);
}

TEST_F(AudioCommands, SetNamesRefusesBadParametersAndUnknownDevices) {
  const Errors bad = {{22, "Invalid parameter list for set audio device channel names request!"}};
  const struct {
    const char* parameter;
    Errors errors;
  } cases[] = {
      {"null", bad},
      {R"({"audio_device_name": "GeneratorRamp", "audio_captid": []})", bad},
      {R"({"audio_device_name": "GeneratorRamp", "audio_captid": {}, "audio_playid": []})", bad},
      {R"({"audio_device_name": "NoSuchDevice", "audio_captid": [], "audio_playid": []})",
       {{19, "Requested audio device not found."}}},
  };
  for (const auto& c : cases) EXPECT_EQ(errors(15, c.parameter), c.errors) << c.parameter;
}

TEST_F(AudioCommands, ConfigAnswersNullWhateverItIsGiven) {
  for (const char* parameter : {"null", "{}", R"({"audio_device_name": "GeneratorRamp"})", "[1]"})
    EXPECT_EQ(answer(16, parameter), R"({"command": 16, "parameter": null})") << parameter;
}

TEST_F(AudioCommands, ReleaseAnswersTheNameAndLeavesTheDeviceIdle) {
  ASSERT_EQ(reserved_config(R"({"audioBlockSize": 256})"), R"({"audioBlockSize":256})");
  EXPECT_EQ(answer(17, R"({"audio_device_name": "GeneratorRamp"})"),
            R"({"command": 17, "parameter": {"audio_device_name": "GeneratorRamp"}})");
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 512})"), R"({"audioBlockSize":512})");
  // A device that was never reserved is released all the same.
  EXPECT_EQ(answer(17, R"({"audio_device_name": "AnalyzerRamp"})"),
            R"({"command": 17, "parameter": {"audio_device_name": "AnalyzerRamp"}})");
}

TEST_F(AudioCommands, ReleaseRefusesBadParametersAndUnknownDevices) {
  const Errors bad = {{22, "Invalid parameter list for audio device release request!"}};
  EXPECT_EQ(errors(17, "{}"), bad);
  EXPECT_EQ(errors(17, R"({"audio_device_name": ["GeneratorRamp"]})"), bad);
  EXPECT_EQ(errors(17, R"({"audio_device_name": "NoSuchDevice"})"), (Errors{{19, "Requested audio device not found."}}));
}

// A sender's timer reads the capture interface of its audio device's
// driver: while it runs, the driver stays, and reserving again keeps it.
TEST_F(AudioCommands, ReleaseOfADeviceAStreamUsesIsRefusedUntilTheStreamIsRemoved) {
  const std::string session = R"({"session_addr": "239.77.3.1", "session_port": 5004})";
  const std::string session_new =
      R"({"session_addr": "239.77.3.1", "session_port": 5004, "network_interface_name": "veth0"})";
  const VlJsonRef created = result_or_error(6, session_new);
  if (json_integer_value(json_object_get(json_array_get(created.get(), 0), "type")) == 207)
    GTEST_SKIP() << "the daemon has no session commands yet";
  ASSERT_TRUE(json_is_object(created.get()));
  ASSERT_EQ(reserved_config(R"({"audioBlockSize": 256})"), R"({"audioBlockSize":256})");
  const VlJsonRef stream = result(
      9, R"({"session_id": )" + session + R"(, "audio_device_name": "GeneratorRamp", "stream_sdp": )"
             R"("v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Lab\nt=0 0\nm=audio 5004 RTP/AVP 98\n)"
             R"(c=IN IP4 239.77.3.1/32\na=rtpmap:98 L24/48000/1\na=sync-time:0\n", )"
             R"("stream_seqno": 0, "stream_dscp": 34, "stream_packetduration": 48})");
  ASSERT_EQ(json_integer_value(json_object_get(stream.get(), "stream_type")), 1) << "no sender stream";

  EXPECT_EQ(errors(17, R"({"audio_device_name": "GeneratorRamp"})"),
            (Errors{{19, "Audio device GeneratorRamp is in use by a stream!"}}));
  EXPECT_EQ(reserved_config(R"({"audioBlockSize": 512})"), R"({"audioBlockSize":256})");

  ASSERT_TRUE(json_is_object(result(11, R"({"session_id": )" + session + R"(, "stream_type": 1})").get()));
  EXPECT_EQ(answer(17, R"({"audio_device_name": "GeneratorRamp"})"),
            R"({"command": 17, "parameter": {"audio_device_name": "GeneratorRamp"}})");
}

}  // namespace
