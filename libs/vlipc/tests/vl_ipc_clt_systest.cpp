// The client library against a scripted daemon (the framing module's server
// side answering as each test says, for answers a real daemon never gives)
// and against a live streamerd, both in a network lab.
#include "vlipc/vl_ipc_clt.h"

#include "vltest/daemon.h"
#include "vltest/device_description.h"
#include "vltest/scripted_daemon.h"
#include "vltest/wait.h"
#include "vlutil/vl_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using vltest::event;
using vltest::Frame;
using vltest::Frames;
using vltest::response;

const std::string sdp = vltest::lab_sdp;
const std::string sender = vltest::lab_sender;
const std::string description = vltest::device_description();

const std::string session_id = R"({"session_addr": "239.1.1.1", "session_port": 5004})";

class ScriptedDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    unsetenv(vl_ipc_client_address_env);
    ASSERT_TRUE(daemon_.start(lab_, vltest::NetLab::A, "127.0.0.1"));
    lab_.run_in(vltest::NetLab::A, [&] { client_ = vl_ipc_client_connect(); });
    ASSERT_NE(client_, nullptr);
  }
  void TearDown() override {
    vl_ipc_client_close();
    vl_ipc_client_set_timeout(vl_ipc_client_default_timeout_ms);
  }
  // Answers "init" with the description, everything else as `other` says.
  void answer_with(std::function<Frames(json_int_t)> other) {
    daemon_.script = [other](json_int_t command) {
      return command == 1 ? Frames{response(1, description)} : other(command);
    };
  }
  VlSession* mirrored_session() {
    VlSessionId id{"239.1.1.1", 5004};
    return vl_device_find_session(vl_ipc_client_mirror(), id);
  }

  vltest::NetLab lab_;
  vltest::ScriptedDaemon daemon_;
  VlIpcClient* client_ = nullptr;
};

// With VELANTO_IPC_SRV_ADDR unset the client reaches 127.0.0.1.
TEST_F(ScriptedDaemon, ConnectingTwiceReturnsTheSameRecord) {
  VlIpcClient* again = nullptr;
  lab_.run_in(vltest::NetLab::A, [&] { again = vl_ipc_client_connect(); });
  EXPECT_EQ(again, client_);
  EXPECT_EQ(vl_ipc_client_send(2, nullptr), 0);
  EXPECT_EQ(daemon_.requests.load(), 1);
}

// Whatever the command, an error array is a failure, and its errors come
// back to the caller as they arrived.
TEST_F(ScriptedDaemon, AnErrorArrayFailsEveryCommand) {
  const std::string errors = R"([{"line": 1, "file": "f", "type": 19, "text": "Requested audio device not found."}])";
  for (json_int_t command : {6, 15, 16}) {
    daemon_.script = [&](json_int_t) { return Frames{response(command, errors)}; };
    VlJsonRef answer;
    EXPECT_EQ(vl_ipc_client_call(static_cast<uint32_t>(command), nullptr, &answer), -1) << command;
    EXPECT_EQ(errno, EIO);
    EXPECT_STREQ(json_string_value(json_object_get(json_array_get(answer.get(), 0), "text")),
                 "Requested audio device not found.");
  }
}

TEST_F(ScriptedDaemon, RepeatedInitResponsesReplaceTheMirror) {
  answer_with([](json_int_t command) { return Frames{response(command, "{}")}; });
  for (int i = 0; i < 3; ++i) ASSERT_EQ(vl_ipc_client_send(1, nullptr), 0);
  ASSERT_NE(mirrored_session(), nullptr);
  EXPECT_NE(vl_session_get_sender(mirrored_session()), nullptr);
  EXPECT_NE(vl_device_audio_find(vl_ipc_client_mirror(), "AnalyzerRamp"), nullptr);
}

// A receiver's answer must be about a receiver: one claiming to be a
// sender leaves the mirror's sender alone.
TEST_F(ScriptedDaemon, StreamAnswersOfTheOtherTypeAreRefused) {
  const std::string receiver = R"({"stream_sdp": ")" + sdp + R"(", "audio_device_name": "AnalyzerRamp",
    "stream_channelmap": [0, -1], "stream_end2enddelay": 480})";
  json_int_t type = 1;
  answer_with([&](json_int_t command) {
    return Frames{response(command, R"({"session_id": )" + session_id + R"(, "stream_type": )" +
                                                    std::to_string(type) + R"(, "stream": )" + receiver + "}")};
  });
  ASSERT_EQ(vl_ipc_client_send(1, nullptr), 0);
  VlStreamSender* before = vl_session_get_sender(mirrored_session());
  EXPECT_EQ(vl_ipc_client_send(10, nullptr), -1);
  EXPECT_EQ(vl_session_get_sender(mirrored_session()), before);
  EXPECT_EQ(vl_session_get_receiver(mirrored_session()), nullptr);

  type = 2;
  ASSERT_EQ(vl_ipc_client_send(10, nullptr), 0);
  ASSERT_NE(vl_session_get_receiver(mirrored_session()), nullptr);
  EXPECT_STREQ(vl_stream_audio_device_name(vl_session_get_receiver(mirrored_session())), "AnalyzerRamp");
  EXPECT_EQ(vl_ipc_client_send(11, nullptr), -1);  // a sender's deletion answered with type 2
  EXPECT_EQ(vl_session_get_sender(mirrored_session()), before);
}

TEST_F(ScriptedDaemon, MirrorFollowsSessionStreamAndAudioAnswers) {
  answer_with([](json_int_t command) {
    switch (command) {
      case 6:
        return Frames{response(6, R"({"session_id": {"session_addr": "239.1.1.2", "session_port": 5006},
          "network_interface_name": "veth0", "session_sender": {}, "session_receiver": {}})")};
      case 11: return Frames{response(11, R"({"session_id": )" + session_id + R"(, "stream_type": 1})")};
      case 13:
        return Frames{response(13, R"({"session_id": )" + session_id + R"(, "stream_type": 1,
          "stream_channelmap": [-1, 0], "audio_device_name": "GeneratorRamp"})")};
      case 14:
        return Frames{response(14, R"({"audio_device_name": "AnalyzerRamp", "audio_config": {"a": 1}})")};
      case 17: return Frames{response(17, R"({"audio_device_name": "AnalyzerRamp"})")};
      case 21: return Frames{response(21, R"({"ptp_status": {"ptp_domain": 7}})")};
      default: return Frames{response(command, "{}")};
    }
  });
  ASSERT_EQ(vl_ipc_client_send(1, nullptr), 0);
  VlDevice* mirror = vl_ipc_client_mirror();

  EXPECT_EQ(vl_ipc_client_send(13, nullptr), 0);
  EXPECT_EQ(vl_stream_channel_map(vl_session_get_sender(mirrored_session()))->entries()[1], 0);
  EXPECT_EQ(vl_ipc_client_send(11, nullptr), 0);
  EXPECT_EQ(vl_session_get_sender(mirrored_session()), nullptr);

  EXPECT_EQ(vl_ipc_client_send(6, nullptr), 0);
  VlSessionId added{"239.1.1.2", 5006};
  EXPECT_NE(vl_device_find_session(mirror, added), nullptr);

  VlAudioDevice* analyzer = vl_device_audio_find(mirror, "AnalyzerRamp");
  EXPECT_EQ(vl_ipc_client_send(14, nullptr), 0);
  EXPECT_EQ(json_integer_value(json_object_get(analyzer->configuration.get(), "a")), 1);
  EXPECT_EQ(vl_ipc_client_send(17, nullptr), 0);
  EXPECT_EQ(json_object_size(analyzer->configuration.get()), 0u);

  EXPECT_EQ(vl_ipc_client_send(21, nullptr), 0);
  EXPECT_EQ(mirror->ptp_status.domain, 7);
}

// A session the mirror holds, described again, takes the new description's
// streams; the old ones are released (the sanitizer run checks that).
TEST_F(ScriptedDaemon, ASessionDescribedAgainTakesItsNewStreams) {
  const std::string receiver = R"({"stream_sdp": ")" + sdp + R"(", "audio_device_name": "AnalyzerRamp",
    "stream_channelmap": [0, -1], "stream_end2enddelay": 480})";
  answer_with([&](json_int_t command) {
    return Frames{response(command, R"({"session_id": )" + session_id + R"(, "network_interface_name": "veth0",
      "session_sender": {}, "session_receiver": )" + receiver + "}")};
  });
  ASSERT_EQ(vl_ipc_client_send(1, nullptr), 0);
  ASSERT_EQ(vl_ipc_client_send(6, nullptr), 0);
  EXPECT_EQ(vl_session_get_sender(mirrored_session()), nullptr);
  ASSERT_NE(vl_session_get_receiver(mirrored_session()), nullptr);
  EXPECT_EQ(vl_stream_receiver_delay(vl_session_get_receiver(mirrored_session())), 480);
}

// An answer with a command number outside the table still ends the wait.
TEST_F(ScriptedDaemon, AnUnknownCommandNumberWakesTheSenderWithAFailure) {
  daemon_.script = [](json_int_t) { return Frames{response(30, "{}")}; };
  const auto start = Clock::now();
  EXPECT_EQ(vl_ipc_client_send(2, nullptr), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_LT(Clock::now() - start, 2s);
}

// Daemon events 1 to 199 come out here as 201 to 399; others are dropped.
TEST_F(ScriptedDaemon, EventsAreRepublishedAsIdPlus200) {
  static std::mutex seen_lock;
  static std::vector<std::pair<int, std::string>> seen;
  auto record = [](json_t* notification) {
    char* data = json_dumps(json_object_get(notification, "event_data"), JSON_COMPACT | JSON_ENCODE_ANY);
    std::lock_guard<std::mutex> guard(seen_lock);
    seen.emplace_back(static_cast<int>(json_integer_value(json_object_get(notification, "event_id"))), data);
    std::free(data);
  };
  for (int32_t id : {200, 205, 450}) ASSERT_EQ(vl_event_hdl_register(id, "client", record, false), 0);
  daemon_.script = [](json_int_t command) {
    return Frames{event(0, "0"), event(250, "250"), event(5, R"({"level": 3})"), response(command, "{}")};
  };
  ASSERT_EQ(vl_ipc_client_send(22, nullptr), 0);
  ASSERT_TRUE(vltest::wait_until(
      [] {
        std::lock_guard<std::mutex> guard(seen_lock);
        return !seen.empty();
      },
      5s));
  for (int32_t id : {200, 205, 450}) vl_event_hdl_unregister(id, "client");  // delivers what is still queued
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (std::pair<int, std::string>{205, R"({"level":3})"}));
}

TEST_F(ScriptedDaemon, ARequestWithoutAnswerEndsAtTheTimeLimitAndClosesTheConnection) {
  daemon_.script = [](json_int_t) { return Frames{}; };
  vl_ipc_client_set_timeout(300);
  const auto start = Clock::now();
  EXPECT_EQ(vl_ipc_client_send(2, nullptr), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_FALSE(vl_ipc_client_connected());
  EXPECT_EQ(vl_ipc_client_send(2, nullptr), -1);  // a late answer could no longer be told apart
  EXPECT_EQ(errno, ENOTCONN);
}

TEST_F(ScriptedDaemon, ALostConnectionReleasesTheWaitingRequest) {
  daemon_.script = [](json_int_t) { return Frames{{vltest::drop_connection, ""}}; };
  const auto start = Clock::now();
  EXPECT_EQ(vl_ipc_client_send(2, nullptr), -1);
  EXPECT_EQ(errno, ENOTCONN);
  EXPECT_LT(Clock::now() - start, 2s);
}

// A live daemon in host A, the client in host B.
class LiveDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    daemon_ = std::make_unique<vltest::Daemon>(lab_, vltest::NetLab::A, STREAMERD_PATH);
    ASSERT_TRUE(daemon_->wait_started()) << daemon_->process().output();
    setenv(vl_ipc_client_address_env, daemon_->address(), 1);
    lab_.run_in(vltest::NetLab::B, [&] { ASSERT_NE(vl_ipc_client_connect(), nullptr); });
  }
  void TearDown() override {
    vl_ipc_client_close();
    vl_ipc_client_set_timeout(vl_ipc_client_default_timeout_ms);
    unsetenv(vl_ipc_client_address_env);
  }
  VlSession* mirrored() {
    VlSessionId id{"239.1.1.1", 5004};
    return vl_device_find_session(vl_ipc_client_mirror(), id);
  }
  int send(uint32_t command, const std::string& parameter) {
    const VlJsonRef json(json_loads(parameter.c_str(), JSON_DECODE_ANY, nullptr));
    return vl_ipc_client_send(command, json.get());
  }

  vltest::NetLab lab_;
  std::unique_ptr<vltest::Daemon> daemon_;
};

TEST_F(LiveDaemon, ResponsesKeepTheMirrorInStep) {
  ASSERT_EQ(send(1, "null"), 0);
  VlDevice* mirror = vl_ipc_client_mirror();
  ASSERT_NE(mirror, nullptr);
  ASSERT_NE(vl_network_interface_find(mirror->interfaces.get(), "veth0"), nullptr);
  ASSERT_EQ(send(1, "null"), 0);  // a second description replaces the first
  mirror = vl_ipc_client_mirror();

  ASSERT_EQ(send(14, R"({"audio_device_name": "GeneratorRamp", "audio_config": {"audioBlockSize": 1024}})"), 0);
  EXPECT_EQ(json_integer_value(json_object_get(vl_device_audio_find(mirror, "GeneratorRamp")->configuration.get(),
                                               "audioBlockSize")),
            1024);
  ASSERT_EQ(send(6, R"({"session_addr": "239.1.1.1", "session_port": 5004, "network_interface_name": "veth0"})"), 0);
  ASSERT_NE(mirrored(), nullptr);
  ASSERT_EQ(send(9, R"({"session_id": )" + session_id + R"(, "audio_device_name": "GeneratorRamp", "stream_sdp": ")" +
                        sdp + R"(", "stream_seqno": 0, "stream_dscp": 34, "stream_packetduration": 48})"),
            0);
  EXPECT_NE(vl_session_get_sender(mirrored()), nullptr);
  ASSERT_EQ(send(11, R"({"session_id": )" + session_id + R"(, "stream_type": 1})"), 0);
  EXPECT_EQ(vl_session_get_sender(mirrored()), nullptr);
  ASSERT_EQ(send(7, R"({"session_id": )" + session_id + "}"), 0);
  EXPECT_EQ(mirrored(), nullptr);
  ASSERT_EQ(send(17, R"({"audio_device_name": "GeneratorRamp"})"), 0);
  EXPECT_EQ(json_object_size(vl_device_audio_find(mirror, "GeneratorRamp")->configuration.get()), 0u);

  ASSERT_EQ(send(3, R"({"vl_clt_config_file": "desk", "vl_clt_config": {"fader": 3}})"), 0);
  ASSERT_EQ(send(4, R"({"vl_clt_config_file": "desk"})"), 0);
  EXPECT_EQ(velanto_meta_data, R"({"fader":3})");
  ASSERT_EQ(send(19, "{}"), 0);
  EXPECT_NE(vllog_category_list.find("velanto"), std::string::npos);
  EXPECT_EQ(send(21, "{}"), 0);
}

// The SAP calls: the list is an array (nothing else announces in the lab),
// and the switch reaches the daemon's sender (added unannounced) and the
// mirror's.
TEST_F(LiveDaemon, SapCallsListAndSwitchTheSendersAnnouncement) {
  ASSERT_EQ(send(1, "null"), 0);
  VlJsonRef list;
  ASSERT_EQ(vl_ipc_client_sap_list(&list), 0);
  EXPECT_TRUE(json_is_array(list.get()));
  EXPECT_EQ(vl_ipc_client_sap_set("239.1.1.1", 5004, false), -1);  // no such session
  ASSERT_EQ(send(14, R"({"audio_device_name": "GeneratorRamp", "audio_config": {"audioBlockSize": 1024}})"), 0);
  ASSERT_EQ(send(6, R"({"session_addr": "239.1.1.1", "session_port": 5004, "network_interface_name": "veth0"})"), 0);
  EXPECT_EQ(vl_ipc_client_sap_set("239.1.1.1", 5004, false), -1);  // no sender yet
  ASSERT_EQ(send(9, R"({"session_id": )" + session_id + R"(, "audio_device_name": "GeneratorRamp", "stream_sdp": ")" +
                        sdp + R"(", "stream_seqno": 0, "stream_dscp": 34, "stream_packetduration": 48, )"
                              R"("stream_sap": 0})"),
            0);
  EXPECT_FALSE(vl_session_get_sender(mirrored())->sap_enabled());
  ASSERT_EQ(vl_ipc_client_sap_set("239.1.1.1", 5004, true), 0);
  EXPECT_TRUE(vl_session_get_sender(mirrored())->sap_enabled());
  ASSERT_EQ(send(1, "null"), 0);  // the daemon's own description says the same
  EXPECT_TRUE(vl_session_get_sender(mirrored())->sap_enabled());
}

TEST_F(LiveDaemon, TheDaemonsErrorsFailTheRequest) {
  ASSERT_EQ(send(1, "null"), 0);
  VlJsonRef answer;
  const VlJsonRef parameter(json_pack("{s:s, s:[], s:[]}", "audio_device_name", "NoSuchDevice", "audio_captid",
                                      "audio_playid"));
  EXPECT_EQ(vl_ipc_client_call(15, parameter.get(), &answer), -1);
  EXPECT_STREQ(json_string_value(json_object_get(json_array_get(answer.get(), 0), "text")),
               "Requested audio device not found.");
}

// A daemon that stops answering is given up at the time limit; one that
// dies ends the connection.
TEST_F(LiveDaemon, AStoppedDaemonTimesOutAndADeadOneEndsTheConnection) {
  vl_ipc_client_set_timeout(500);
  daemon_->process().signal(SIGSTOP);
  const auto start = Clock::now();
  EXPECT_EQ(send(2, "null"), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_LT(Clock::now() - start, 3s);

  vl_ipc_client_close();
  lab_.run_in(vltest::NetLab::B, [&] { ASSERT_NE(vl_ipc_client_connect(), nullptr); });  // the kernel still accepts
  daemon_->process().signal(SIGKILL);
  daemon_->process().wait_exit(5s);
  EXPECT_EQ(send(2, "null"), -1);
  EXPECT_EQ(errno, ENOTCONN);
}

}  // namespace
