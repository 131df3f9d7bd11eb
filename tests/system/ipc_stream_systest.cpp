// Commands 9 to 13 of a running daemon: the streams of a session are added,
// removed and re-mapped. Adding one that streams needs a reserved audio
// device ("audio_rsv", command 14); those tests are skipped while the daemon
// has no such command.
#include "ipc_control.h"

#include <memory>
#include <string>

namespace {

using namespace ipc_control;

constexpr int add_snd = 9, add_rcv = 10, del_snd = 11, del_rcv = 12, change = 13;

const std::string bad_add = "Invalid parameter for add stream command!";
const std::string no_session = "Could not decode/find session!";
const std::string no_device = "Could not decode/find requested audio device!";
const std::string bad_sender = "Invalid parameter for add send stream command!";
const std::string bad_receiver = "Invalid parameter for add receiver stream command!";

struct Refusal {
  std::string parameter;
  int type;
  const std::string& text;
};

// The common keys of both adds, then `rest` (starting with a comma).
std::string add_parameter(const std::string& device, const std::string& rest, const std::string& id = session_id()) {
  return R"({"session_id": )" + id + R"(, "audio_device_name": ")" + device + R"(", "stream_sdp": )" +
         json_text(stream_sdp()) + rest + "}";
}
const std::string sending = R"(, "stream_seqno": 100, "stream_dscp": 34, "stream_packetduration": 48)";
const std::string receiving = R"(, "stream_end2enddelay": 480)";

std::string change_parameter(int type, const std::string& map, const std::string& device,
                             const std::string& id = session_id()) {
  return R"({"session_id": )" + id + R"(, "stream_type": )" + std::to_string(type) + R"(, "stream_channelmap": )" +
         map + R"(, "audio_device_name": ")" + device + R"("})";
}

class StreamCommands : public OneDaemon {
 protected:
  void SetUp() override {
    OneDaemon::SetUp();
    if (!HasFatalFailure()) add_session();
  }
  void refusals(int command, const Refusal* begin, const Refusal* end) {
    for (const Refusal* r = begin; r != end; ++r)
      EXPECT_TRUE(refused(answer(command, r->parameter), command, r->type, r->text));
  }
  const json_t* session() {
    description_ = a_.describe();
    return json_array_get(json_object_get(description_.get(), "session_list"), 0);
  }
  VlJsonRef description_;
};

// In the order the checks run: the common keys, the session, the audio
// device, the sending keys, then building the sender.
TEST_F(StreamCommands, AddSenderRefusals) {
  const Refusal cases[] = {
      {"{}", 22, bad_add},
      {R"({"session_id": )" + session_id() + R"(, "audio_device_name": "GeneratorRamp"})", 22, bad_add},
      {add_parameter("NoSuchDevice", "", session_id("239.77.8.9")), 5, no_session},
      {add_parameter("NoSuchDevice", ""), 5, no_device},
      {add_parameter("GeneratorRamp", R"(, "stream_seqno": 100, "stream_packetduration": 48)"), 22, bad_sender},
      {add_parameter("GeneratorRamp", R"(, "stream_seqno": 1, "stream_dscp": 64, "stream_packetduration": 48)"), 22,
       bad_sender},
      {add_parameter("GeneratorRamp", R"(, "stream_seqno": 1, "stream_dscp": -1, "stream_packetduration": 48)"), 22,
       bad_sender},
      {add_parameter("GeneratorRamp", R"(, "stream_seqno": 1, "stream_dscp": 34, "stream_packetduration": 4294967344)"),
       22, bad_sender},
      {add_parameter("GeneratorRamp", sending), 5, "Could not create sender stream!"},  // not reserved
  };
  refusals(add_snd, std::begin(cases), std::end(cases));
}

TEST_F(StreamCommands, AddReceiverRefusals) {
  const Refusal cases[] = {
      {R"({"session_id": )" + session_id() + "}", 22, bad_add},
      {add_parameter("NoSuchDevice", "", session_id("239.77.8.9")), 5, no_session},
      {add_parameter("NoSuchDevice", ""), 5, no_device},
      {add_parameter("AnalyzerRamp", ""), 22, bad_receiver},
      {add_parameter("AnalyzerRamp", R"(, "stream_end2enddelay": 2147483648)"), 22, bad_receiver},
      {add_parameter("AnalyzerRamp", receiving), 5, "Could not create receiver stream!"},  // not reserved
  };
  refusals(add_rcv, std::begin(cases), std::end(cases));
}

// A second stream of a kind is refused before it is built: the unreserved
// device is not even tried.
TEST_F(StreamCommands, AddedStreamsAreDescribedAndASecondOfAKindIsRefused) {
  if (!a_.can_reserve()) GTEST_SKIP() << "this daemon has no audio_rsv (command 14) yet";
  ASSERT_TRUE(a_.reserve("GeneratorRamp"));
  ASSERT_TRUE(a_.reserve("AnalyzerRamp"));
  const std::string sdp = json_text(stream_sdp());
  EXPECT_EQ(answer(add_snd, add_parameter("GeneratorRamp", sending)),
            R"({"command": 9, "parameter": {"session_id": )" + session_id() +
                R"(, "stream_type": 1, "stream": {"stream_sdp": )" + sdp +
                R"(, "audio_device_name": "GeneratorRamp", "stream_channelmap": [-1, -1], "stream_dscp": 34, )"
                R"("stream_packetduration": 48, "stream_sap": 1}}})");
  EXPECT_EQ(
      answer(add_rcv, add_parameter("AnalyzerRamp", receiving)),
      R"({"command": 10, "parameter": {"session_id": )" + session_id() +
          R"(, "stream_type": 2, "stream": {"stream_sdp": )" + sdp +
          R"(, "audio_device_name": "AnalyzerRamp", "stream_channelmap": [-1, -1], "stream_end2enddelay": 480}}})");
  EXPECT_TRUE(
      refused(answer(add_snd, add_parameter("GeneratorSine", sending)), add_snd, 5, "Could not add sender stream!"));
  EXPECT_TRUE(
      refused(answer(add_rcv, add_parameter("AnalyzerFile", receiving)), add_rcv, 5, "Could not add receiver stream!"));
  const json_t* listed = session();
  EXPECT_STREQ(json_string_value(json_object_get(json_object_get(listed, "session_sender"), "audio_device_name")),
               "GeneratorRamp");
  EXPECT_STREQ(json_string_value(json_object_get(json_object_get(listed, "session_receiver"), "audio_device_name")),
               "AnalyzerRamp");
}

// A daemon whose host has a "vn0" link besides veth0: no RTP engine serves
// it, so its sessions have no use for streams.
class StreamsOnAnIdleInterface : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    ASSERT_TRUE(lab_.add_link(vltest::NetLab::A, "vn0", "10.1.2.1/24")) << lab_.error();
    a_ = std::make_unique<Controlled>(lab_, vltest::NetLab::A);
    ASSERT_TRUE(a_->connect()) << a_->daemon().process().output();
  }
  void TearDown() override {
    if (a_) {
      EXPECT_TRUE(a_->stop()) << a_->daemon().process().output();
    }
  }
  vltest::NetLab lab_;
  std::unique_ptr<Controlled> a_;
};

TEST_F(StreamsOnAnIdleInterface, AreRefusedInsteadOfTakenAndNeverStreamed) {
  const std::string body =
      a_->answer(6, R"({"session_addr": "239.77.8.1", "session_port": 5004, "network_interface_name": "vn0"})");
  ASSERT_TRUE(body.starts_with(R"({"command": 6, "parameter": {"session_id")")) << body;
  EXPECT_TRUE(refused(a_->answer(add_snd, add_parameter("GeneratorRamp", sending)), add_snd, 5,
                      "Could not create sender stream!"));
  EXPECT_TRUE(refused(a_->answer(add_rcv, add_parameter("AnalyzerRamp", receiving)), add_rcv, 5,
                      "Could not create receiver stream!"));
}

TEST_F(StreamCommands, DelRefusals) {
  const std::string bad_del = "Invalid parameter for delete stream command!";
  const Refusal cases[] = {
      {R"({"session_id": )" + session_id() + "}", 22, bad_del},
      {R"({"stream_type": 1})", 22, bad_del},
      {R"({"session_id": )" + session_id("239.77.8.9") + R"(, "stream_type": 1})", 5, no_session},
  };
  for (int command : {del_snd, del_rcv}) refusals(command, std::begin(cases), std::end(cases));
}

// The command decides which stream goes, also where there is none.
TEST_F(StreamCommands, DelAnswersTheKindOfItsCommand) {
  const std::string id = R"({"session_id": )" + session_id();
  EXPECT_EQ(answer(del_snd, id + R"(, "stream_type": 7})"),
            R"({"command": 11, "parameter": )" + id + R"(, "stream_type": 1}})");
  EXPECT_EQ(answer(del_rcv, id + R"(, "stream_type": 1})"),
            R"({"command": 12, "parameter": )" + id + R"(, "stream_type": 2}})");
}

TEST_F(StreamCommands, DelRemovesTheStreamsAndTheirPlacesCanBeFilledAgain) {
  if (!a_.can_reserve()) GTEST_SKIP() << "this daemon has no audio_rsv (command 14) yet";
  ASSERT_TRUE(a_.reserve("GeneratorRamp"));
  ASSERT_TRUE(a_.reserve("AnalyzerRamp"));
  const std::string id = R"({"session_id": )" + session_id();
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(
        answer(add_snd, add_parameter("GeneratorRamp", sending)).starts_with(R"({"command": 9, "parameter": {)"));
    ASSERT_TRUE(
        answer(add_rcv, add_parameter("AnalyzerRamp", receiving)).starts_with(R"({"command": 10, "parameter": {)"));
    EXPECT_EQ(answer(del_snd, id + R"(, "stream_type": 1})"),
              R"({"command": 11, "parameter": )" + id + R"(, "stream_type": 1}})");
    EXPECT_EQ(answer(del_rcv, id + R"(, "stream_type": 2})"),
              R"({"command": 12, "parameter": )" + id + R"(, "stream_type": 2}})");
    const json_t* listed = session();
    EXPECT_EQ(json_object_size(json_object_get(listed, "session_sender")), 0u);
    EXPECT_EQ(json_object_size(json_object_get(listed, "session_receiver")), 0u);
  }
}

// In the order the checks run: the keys, the session, a zero type, the map,
// the audio device, another unknown type, then applying the map.
TEST_F(StreamCommands, ChangeRefusals) {
  const Refusal cases[] = {
      {R"({"session_id": )" + session_id() + R"(, "stream_type": 1, "stream_channelmap": [0, -1]})", 22,
       "Invalid parameter for change stream command!"},
      {change_parameter(0, "[]", "NoSuchDevice", session_id("239.77.8.9")), 5, no_session},
      {change_parameter(0, "[]", "NoSuchDevice"), 5, "Could not decode requested stream type!"},
      {change_parameter(3, "[]", "NoSuchDevice"), 5, "Could not decode channel_map!"},
      {change_parameter(3, "[0, -1]", "NoSuchDevice"), 5, no_device},
      {change_parameter(3, "[0, -1]", "GeneratorRamp"), 95, "Invalid stream type!"},
      {change_parameter(1, "[0, -1]", "GeneratorRamp"), 211, "Invalid channel map size!"},  // no sender
  };
  refusals(change, std::begin(cases), std::end(cases));
}

TEST_F(StreamCommands, ChangeAppliesAMapOfTheStreamsSize) {
  if (!a_.can_reserve()) GTEST_SKIP() << "this daemon has no audio_rsv (command 14) yet";
  ASSERT_TRUE(a_.reserve("GeneratorRamp"));
  ASSERT_TRUE(answer(add_snd, add_parameter("GeneratorRamp", sending)).starts_with(R"({"command": 9, "parameter": {)"));
  EXPECT_EQ(answer(change, change_parameter(1, "[0, -1]", "GeneratorRamp")),
            R"({"command": 13, "parameter": {"session_id": )" + session_id() +
                R"(, "stream_type": 1, "stream_channelmap": [0, -1], "audio_device_name": "GeneratorRamp"}})");
  EXPECT_TRUE(refused(answer(change, change_parameter(1, "[0, -1, 1]", "GeneratorRamp")), change, 211,
                      "Invalid channel map size!"));
  EXPECT_EQ(text_of(json_object_get(json_object_get(session(), "session_sender"), "stream_channelmap")), "[0, -1]");
}

}  // namespace
